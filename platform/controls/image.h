// TImage: the control that shows a picture and reports the pointer over it.
#pragma once

#include "platform/pictures/canvas.h"
#include "platform/controls/controls.h"
#include "platform/files/picture.h"

#include <QPixmap>
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

    // While frozen, the control shows what it showed when frozen (its
    // visible part; what comes into view meanwhile stays blank) and reads
    // nothing of its picture, which work on another thread may be changing;
    // changes announced meanwhile take effect when it thaws.
    void Freeze();
    void Thaw();
    bool Frozen() const { return frozen_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    void PictureChanged();

    TPicture picture_;
    bool frozen_ = false;
    bool changedWhileFrozen_ = false;
    QPixmap snapshot_;
    QPoint snapshotAt_;
    bool autoSize_ = false;
    bool stretch_ = false;
    std::function<void(TShiftState, int, int)> onMouseMove_;
};
