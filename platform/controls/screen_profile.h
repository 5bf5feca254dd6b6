// The colour profile the desktop publishes for the screen, and the view's
// transforms into it.
#pragma once

#include "platform/metadata/colour_profiles.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>

#include <memory>

struct TX11Root;

// The screen's profile is the X root window's _ICC_PROFILE property, which
// the desktop's colour manager sets, and sets again when the screen is
// calibrated anew: it is read on the first call and again whenever it
// changes. On other window systems, and where none is published, the
// screen is sRGB. Made and used on the window's thread.
class TScreenProfile : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT

public:
    static TScreenProfile &Instance();
    ~TScreenProfile() override;

    // The transforms into the screen's profile as it is now.
    TScreenColours &Colours() { return *colours_; }

signals:
    // The desktop published another profile: views repaint.
    void Changed();

private:
    TScreenProfile();
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void Reload();

    std::unique_ptr<TX11Root> x11_;
    std::unique_ptr<TScreenColours> colours_;
};
