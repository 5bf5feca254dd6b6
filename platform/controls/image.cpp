// TImage: the control that shows a picture and reports the pointer over it.
#include "platform/controls/image.h"

#include "platform/controls/screen_profile.h"
#include "platform/metadata/shown_colours.h"

#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QtMath>

// The image control is the one control with a mouse-move event.
void ConnectMouseMove(QObject *source, TMouseMoveEvent handler)
{
    auto *image = qobject_cast<TImage *>(source);
    if (!image) throw Exception(QStringLiteral("%1 has no mouse-move event").arg(source->objectName()));
    image->SetOnMouseMove([source, handler = std::move(handler)](TShiftState shift, int x, int y) {
        Application->HandleEvent([&] { handler(source, shift, x, y); });
    });
}


namespace {

// What screen readers learn of the control: a picture, named by its
// accessible name (or "Picture"), and described by its size in pixels.
class TImageAccessible : public QAccessibleWidget {
public:
    explicit TImageAccessible(TImage *image) : QAccessibleWidget(image, QAccessible::Graphic) {}

    QString text(QAccessible::Text kind) const override
    {
        auto *image = static_cast<TImage *>(widget());
        if (kind == QAccessible::Name && image->accessibleName().isEmpty()) return QStringLiteral("Picture");
        if (kind == QAccessible::Description && image->accessibleDescription().isEmpty()) {
            const TBitmap &bitmap = *image->GetPicture()->GetBitmap();
            if (bitmap.Empty()) return QStringLiteral("No picture");
            return QStringLiteral("%1 x %2 pixels").arg(bitmap.GetWidth()).arg(bitmap.GetHeight());
        }
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *ImageAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TImage") && qobject_cast<TImage *>(object))
        return new TImageAccessible(qobject_cast<TImage *>(object));
    return nullptr;
}

} // namespace

TImage::TImage(QWidget *parent) : TControlOf<QWidget>(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(ImageAccessible), true);
    (void)factoryInstalled;
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    // Work on another thread announces its changes there: they are taken
    // up on the control's own thread.
    picture_.SetOnChange([this] {
        if (QThread::currentThread() == thread())
            PictureChanged();
        else
            QMetaObject::invokeMethod(this, [this] { PictureChanged(); }, Qt::QueuedConnection);
    });
    connect(&TScreenProfile::Instance(), &TScreenProfile::Changed, this, [this] { update(); });
}

void TImage::SetAutoSize(bool autoSize)
{
    autoSize_ = autoSize;
    if (autoSize_) resize(picture_.GetWidth(), picture_.GetHeight());
}

void TImage::SetStretch(bool stretch)
{
    if (stretch_ == stretch) return;
    stretch_ = stretch;
    update();
}

void TImage::PictureChanged()
{
    if (frozen_) {
        changedWhileFrozen_ = true;
        return;
    }
    if (autoSize_) resize(picture_.GetWidth(), picture_.GetHeight());
    update();
}

void TImage::Freeze()
{
    if (frozen_) return;
    // Only the visible part: a whole 100-megapixel picture would double
    // the memory the work needs.
    const QRect visible = visibleRegion().boundingRect();
    snapshot_ = visible.isEmpty() ? QPixmap() : grab(visible);
    snapshotAt_ = visible.topLeft();
    frozen_ = true;
    changedWhileFrozen_ = false;
}

void TImage::Thaw()
{
    if (!frozen_) return;
    frozen_ = false;
    snapshot_ = QPixmap();
    if (changedWhileFrozen_) PictureChanged();
    update();
}

void TImage::paintEvent(QPaintEvent *event)
{
    if (frozen_) {
        if (snapshot_.isNull()) return;
        QPainter painter(this);
        painter.setClipRegion(event->region());
        painter.drawPixmap(snapshotAt_, snapshot_);
        return;
    }
    const TBitmap &bitmap = *picture_.GetBitmap();
    if (bitmap.Empty()) return;
    const QSize shown = stretch_ ? size() : QSize(bitmap.GetWidth(), bitmap.GetHeight());
    QPainter painter(this);
    // Shown as its colour profile means the colours; the pixels stay as stored.
    TScreenColours &screen = TScreenProfile::Instance().Colours();
    for (const QRect &exposed : event->region())
        DrawShownView(painter, bitmap, shown, exposed, screen);
}

void TImage::mouseMoveEvent(QMouseEvent *event)
{
    if (onMouseMove_) {
        // A logical pixel covers several device pixels on high-DPI screens:
        // every one of them is that pixel, so round down, never to nearest.
        const QPointF position = event->position();
        const QPoint at(qFloor(position.x()), qFloor(position.y()));
        TShiftState shift;
        const auto keys = event->modifiers();
        const auto buttons = event->buttons();
        if (keys & Qt::ShiftModifier) shift << TShiftStateFlag::Shift;
        if (keys & Qt::AltModifier) shift << TShiftStateFlag::Alt;
        if (keys & Qt::ControlModifier) shift << TShiftStateFlag::Ctrl;
        if (buttons & Qt::LeftButton) shift << TShiftStateFlag::Left;
        if (buttons & Qt::RightButton) shift << TShiftStateFlag::Right;
        if (buttons & Qt::MiddleButton) shift << TShiftStateFlag::Middle;
        onMouseMove_(shift, at.x(), at.y());
    }
    QWidget::mouseMoveEvent(event);
}
