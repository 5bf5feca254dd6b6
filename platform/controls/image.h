// TImage: the control that shows a picture and reports the pointer over it.
#pragma once

#include "platform/pictures/canvas.h"
#include "platform/controls/controls.h"
#include "platform/files/picture.h"

#include <QWidget>

#include <functional>

class TImage : public TControlOf<QWidget> {
    Q_OBJECT

public:
    explicit TImage(QWidget *parent = nullptr);

    TPicture *GetPicture() { return &picture_; }
    // The canvas of the shown picture. Outside the picture, and while there
    // is none, it reads clBlack.
    TCanvas *GetCanvas() { return picture_.GetBitmap()->GetCanvas(); }

    bool GetAutoSize() const { return autoSize_; }
    // On, the control takes the picture's size now and whenever it changes.
    void SetAutoSize(bool autoSize);
    bool GetStretch() const { return stretch_; }
    // On, the picture is drawn scaled to the control; off, at its own size
    // from the top-left corner.
    void SetStretch(bool stretch);

    void SetOnMouseMove(std::function<void(TShiftState, int, int)> handler) { onMouseMove_ = std::move(handler); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void PictureChanged();

    TPicture picture_;
    bool autoSize_ = false;
    bool stretch_ = false;
    std::function<void(TShiftState, int, int)> onMouseMove_;
};
