// The colour profile the desktop publishes for the screen, read through Qt's X11 connection.
#include "platform/controls/screen_profile.h"

#include "platform/base/malloc_memory.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

// The X connection Qt opened, the root window of its first screen (where
// the property describing the whole desktop lives) and the property's name.
struct TX11Root {
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t property = XCB_ATOM_NONE;
};

namespace {

constexpr char PropertyName[] = "_ICC_PROFILE";

// xcb's replies are malloc'd.
template <typename Reply>
using TReply = TMallocPtr<Reply>;

std::unique_ptr<TX11Root> ConnectToX11()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return nullptr;
    xcb_connection_t *connection = x11->connection();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return nullptr;
    // Made if missing, so that a profile published later is seen.
    const TReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(PropertyName), PropertyName), nullptr));
    if (!atom) return nullptr;
    // Changes of the root window's properties come to this client too;
    // what else it listens for there (Qt does) stays.
    const TReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, screen->root), nullptr));
    const std::uint32_t events = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &events);
    xcb_flush(connection);
    auto found = std::make_unique<TX11Root>();
    found->connection = connection;
    found->root = screen->root;
    found->property = atom->atom;
    return found;
}

// The property's bytes; empty where it is absent, not bytes, or larger
// than a profile may be.
QByteArray ReadProperty(const TX11Root &x11)
{
    const TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        x11.connection,
        xcb_get_property(x11.connection, 0, x11.root, x11.property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                         static_cast<std::uint32_t>(MaxProfileBytes / 4)),
        nullptr));
    if (!reply || reply->format != 8 || reply->bytes_after > 0) return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

} // namespace

TScreenProfile &TScreenProfile::Instance()
{
    static TScreenProfile *instance = new TScreenProfile;
    return *instance;
}

TScreenProfile::TScreenProfile() : x11_(ConnectToX11())
{
    colours_ = std::make_unique<TScreenColours>(x11_ ? ReadProperty(*x11_) : QByteArray());
    if (x11_) qGuiApp->installNativeEventFilter(this);
}

TScreenProfile::~TScreenProfile() = default;

bool TScreenProfile::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t") return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
    const auto *change = static_cast<const xcb_property_notify_event_t *>(message);
    // Read after the event is handled: the filter is no place to wait on the server.
    if (change->window == x11_->root && change->atom == x11_->property)
        QMetaObject::invokeMethod(this, [this] { Reload(); }, Qt::QueuedConnection);
    return false;
}

void TScreenProfile::Reload()
{
    const QByteArray profile = ReadProperty(*x11_);
    if (profile == colours_->ScreenProfile()) return;
    colours_ = std::make_unique<TScreenColours>(profile);
    emit Changed();
}
