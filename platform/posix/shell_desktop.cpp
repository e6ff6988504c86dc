// The desktop shell: the tray icon, menus, balloons and message boxes on GTK 3, which
// runs on a thread of its own; the callers' threads hand it work and, where a result
// is owed, wait for it. Clicks and choices come back as posted window messages, so
// the monitor sees the same messages as with the headless shell.
//
// The icon goes to a StatusNotifier host through AppIndicator when the session bus
// has one, and otherwise docks in an X system tray as a status icon (the protocol of
// the classic panels), which also gives the double click that AppIndicator lacks.
#include <X11/Xlib.h>
#include <cairo.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>
#include <libnotify/notify.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/folders.h"
#include "platform/fs.h"
#include "platform/posix/shell_desktop.h"
#include "platform/posix/shell_impl.h"

// The status icon is the only way to an X system tray in GTK 3; it is deprecated in
// favour of hosts that GTK 3 does not speak to, so its calls are kept on purpose.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace platform::shell {

namespace {

// ---- the toolkit thread ----------------------------------------------------------

std::thread::id gtkThread;

struct Call {
    std::function<void()> work;
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
};

gboolean runCall(gpointer data) {
    auto* call = static_cast<Call*>(data);
    call->work();
    std::lock_guard<std::mutex> guard(call->lock);
    call->finished = true;
    call->done.notify_all();
    return G_SOURCE_REMOVE;
}

// Runs the work on the toolkit thread and waits for it.
void onGtk(std::function<void()> work) {
    if (std::this_thread::get_id() == gtkThread) {
        work();
        return;
    }
    Call call;
    call.work = std::move(work);
    g_main_context_invoke(nullptr, runCall, &call);
    std::unique_lock<std::mutex> guard(call.lock);
    call.done.wait(guard, [&] { return call.finished; });
}

gboolean runLater(gpointer data) {
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void deleteLater(gpointer data) { delete static_cast<std::function<void()>*>(data); }

// Queues the work on the toolkit thread and returns at once.
void onGtkLater(std::function<void()> work) {
    g_main_context_invoke_full(nullptr, G_PRIORITY_DEFAULT, runLater, new std::function<void()>(std::move(work)),
                               deleteLater);
}

// ---- icon images ------------------------------------------------------------------

constexpr int kIconSize = 48;

void roundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -G_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, G_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, x + r, y + r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

// The program's icons, drawn rather than shipped: a card on a blue tile (101), with a
// green light while the service runs (104) and a red one while it does not (105).
GdkPixbuf* drawIcon(int icon) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kIconSize, kIconSize);
    cairo_t* cr = cairo_create(surface);
    roundedRectangle(cr, 2, 2, 44, 44, 8);
    cairo_set_source_rgb(cr, 0.13, 0.40, 0.69);
    cairo_fill(cr);
    roundedRectangle(cr, 8, 13, 32, 22, 3);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    roundedRectangle(cr, 12, 18, 9, 7, 1.5);
    cairo_set_source_rgb(cr, 0.86, 0.68, 0.18);
    cairo_fill(cr);
    if (icon == 104 || icon == 105) {
        cairo_arc(cr, 37, 37, 8, 0, 2 * G_PI);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill(cr);
        cairo_arc(cr, 37, 37, 6, 0, 2 * G_PI);
        if (icon == 104) {
            cairo_set_source_rgb(cr, 0.18, 0.70, 0.25);
        } else {
            cairo_set_source_rgb(cr, 0.85, 0.16, 0.14);
        }
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_surface(surface, 0, 0, kIconSize, kIconSize);
    cairo_surface_destroy(surface);
    return pixbuf;
}

// Cached images, toolkit thread only.
std::map<int, GdkPixbuf*> iconCache;

GdkPixbuf* iconImage(int icon) {
    if (icon == 0) icon = 101;
    auto found = iconCache.find(icon);
    if (found != iconCache.end()) return found->second;
    GdkPixbuf* pixbuf = drawIcon(icon);
    iconCache[icon] = pixbuf;
    return pixbuf;
}

// AppIndicator takes icons by name from a folder: the images are written there once.
std::string iconFolder;

std::string indicatorIconName(int icon) {
    if (icon == 0) icon = 101;
    std::string name = "kestrovan-tray-" + std::to_string(icon);
    if (iconFolder.empty()) {
        iconFolder = knownFolder(KnownFolder::Runtime) + "/tray-icons";
        makeFolders(iconFolder.c_str());
    }
    std::string path = iconFolder + "/" + name + ".png";
    GError* error = nullptr;
    if (pathKind(path.c_str()) != PathKind::File && !gdk_pixbuf_save(iconImage(icon), path.c_str(), "png", &error, nullptr)) {
        reportFailure("gdk_pixbuf_save", path.c_str(), EIO);
        g_clear_error(&error);
    }
    return name;
}

// ---- tray icons -------------------------------------------------------------------

struct Tray {
    WindowHandle window = 0;
    uint32_t id = 0;
    uint32_t callbackMessage = 0;
    int icon = 0;
    std::string tip;
    GtkStatusIcon* status = nullptr;
    AppIndicator* indicator = nullptr;
    NotifyNotification* balloon = nullptr;
    bool embedded = false;
    bool wasEmbedded = false;
    // The tray went away and came back: the owner adds its icon again.
    bool trayRestarted = false;
};

// Toolkit thread only.
std::vector<Tray*> trays;
bool useIndicator = false;
bool notifyReady = false;
// The press that asked for the menu, which the menu's pointer grab goes with.
guint menuButton = 0;
guint32 menuTime = GDK_CURRENT_TIME;
bool notifyFailed = false;

Tray* findTray(WindowHandle window, uint32_t id) {
    for (Tray* tray : trays) {
        if (tray->window == window && tray->id == id) return tray;
    }
    return nullptr;
}

bool trayAlive(Tray* tray) {
    for (Tray* known : trays) {
        if (known == tray) return true;
    }
    return false;
}

void postCallback(Tray* tray, int64_t mouseMessage) {
    if (tray->callbackMessage == 0) return;
    postMessage(tray->window, tray->callbackMessage, tray->id, mouseMessage);
}

// With AppIndicator the host shows the menu itself, so the menu has to be in place
// before the click: the owner is asked for it, as if right-clicked, after every change.
void refreshIndicatorMenu(Tray* tray) {
    if (tray->indicator != nullptr) postCallback(tray, WM_RBUTTONDOWN);
}

void announceTrayRestart(Tray* tray) {
    tray->trayRestarted = true;
    postMessage(tray->window, registerWindowMessage(kTaskbarCreatedMessage), 0, 0);
}

gboolean onStatusButton(GtkStatusIcon*, GdkEventButton* event, gpointer data) {
    auto* tray = static_cast<Tray*>(data);
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1) {
        postCallback(tray, WM_LBUTTONDBLCLK);
    } else if (event->type == GDK_BUTTON_PRESS && event->button == 3) {
        menuButton = event->button;
        menuTime = event->time;
        postCallback(tray, WM_RBUTTONDOWN);
    }
    return TRUE;
}

void onStatusEmbedded(GObject* object, GParamSpec*, gpointer data) {
    auto* tray = static_cast<Tray*>(data);
    bool embedded = gtk_status_icon_is_embedded(GTK_STATUS_ICON(object)) != FALSE;
    if (embedded && !tray->embedded && tray->wasEmbedded) announceTrayRestart(tray);
    if (embedded) tray->wasEmbedded = true;
    tray->embedded = embedded;
}

void onIndicatorConnection(AppIndicator*, gboolean connected, gpointer data) {
    auto* tray = static_cast<Tray*>(data);
    if (connected && !tray->embedded && tray->wasEmbedded) announceTrayRestart(tray);
    if (connected) tray->wasEmbedded = true;
    tray->embedded = connected != FALSE;
}

void applyImage(Tray* tray) {
    if (tray->status != nullptr) gtk_status_icon_set_from_pixbuf(tray->status, iconImage(tray->icon));
    if (tray->indicator != nullptr) app_indicator_set_icon_full(tray->indicator, indicatorIconName(tray->icon).c_str(), tray->tip.c_str());
}

void applyTip(Tray* tray) {
    if (tray->status != nullptr) {
        gtk_status_icon_set_tooltip_text(tray->status, tray->tip.c_str());
        gtk_status_icon_set_title(tray->status, tray->tip.c_str());
    }
    if (tray->indicator != nullptr) app_indicator_set_title(tray->indicator, tray->tip.c_str());
}

// Balloons are desktop notifications; a desktop without a notification service shows
// none, which is reported once.
bool sessionBusReachable() {
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && pathKind((std::string(runtime) + "/bus").c_str()) != PathKind::Missing;
}

void showBalloon(Tray* tray, const std::string& title, const std::string& text) {
    if (!notifyReady && !notifyFailed) {
        notifyReady = sessionBusReachable() && notify_init("TarvikKestrovan");
        if (!notifyReady) {
            notifyFailed = true;
            reportFailure("notify_init", "session bus", ENOTCONN);
        }
    }
    if (!notifyReady) return;
    const char* summary = title.empty() ? tray->tip.c_str() : title.c_str();
    if (tray->balloon == nullptr) {
        tray->balloon = notify_notification_new(summary, text.c_str(), nullptr);
    } else {
        notify_notification_update(tray->balloon, summary, text.c_str(), nullptr);
    }
    notify_notification_set_image_from_pixbuf(tray->balloon, iconImage(tray->icon));
    GError* error = nullptr;
    if (!notify_notification_show(tray->balloon, &error)) {
        reportFailure("notify_notification_show", text.c_str(), ENOTCONN);
        g_clear_error(&error);
    }
}

// A StatusNotifier host is on the session bus: the icon goes to it through AppIndicator.
bool statusNotifierHostPresent() {
    if (!sessionBusReachable()) return false;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "NameHasOwner",
                                                  g_variant_new("(s)", "org.kde.StatusNotifierWatcher"),
                                                  G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, &error);
    bool present = false;
    if (reply != nullptr) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        present = owned != FALSE;
        g_variant_unref(reply);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return present;
}

void createIcon(Tray* tray) {
    if (useIndicator) {
        std::string id = "TarvikKestrovan-" + std::to_string(tray->window) + "-" + std::to_string(tray->id);
        tray->indicator = app_indicator_new(id.c_str(), indicatorIconName(tray->icon).c_str(),
                                            APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
        app_indicator_set_icon_theme_path(tray->indicator, iconFolder.c_str());
        g_signal_connect(tray->indicator, "connection-changed", G_CALLBACK(onIndicatorConnection), tray);
        // The host wants a menu before it shows the item; the owner's follows at once.
        GtkWidget* placeholder = gtk_menu_new();
        app_indicator_set_menu(tray->indicator, GTK_MENU(placeholder));
        app_indicator_set_status(tray->indicator, APP_INDICATOR_STATUS_ACTIVE);
    } else {
        tray->status = gtk_status_icon_new_from_pixbuf(iconImage(tray->icon));
        g_signal_connect(tray->status, "button-press-event", G_CALLBACK(onStatusButton), tray);
        g_signal_connect(tray->status, "notify::embedded", G_CALLBACK(onStatusEmbedded), tray);
        gtk_status_icon_set_visible(tray->status, TRUE);
    }
    applyImage(tray);
    applyTip(tray);
}

void destroyIcon(Tray* tray) {
    if (tray->balloon != nullptr) {
        notify_notification_close(tray->balloon, nullptr);
        g_object_unref(tray->balloon);
    }
    if (tray->status != nullptr) {
        gtk_status_icon_set_visible(tray->status, FALSE);
        g_object_unref(tray->status);
    }
    if (tray->indicator != nullptr) {
        app_indicator_set_status(tray->indicator, APP_INDICATOR_STATUS_PASSIVE);
        g_object_unref(tray->indicator);
    }
    delete tray;
}

std::string boundedText(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

bool notifyIconOnGtk(uint32_t action, const TrayIconData* data) {
    Tray* tray = findTray(data->window, data->id);
    if (action == NIM_ADD) {
        if (tray != nullptr) {
            // Adding again is how the owner answers "TaskbarCreated"; the icon itself
            // survived, so the new data is simply applied.
            if (!tray->trayRestarted) return false;
            tray->trayRestarted = false;
        } else {
            tray = new Tray;
            tray->window = data->window;
            tray->id = data->id;
            trays.push_back(tray);
        }
        if ((data->flags & NIF_MESSAGE) != 0) tray->callbackMessage = data->callbackMessage;
        if ((data->flags & NIF_ICON) != 0) tray->icon = data->icon;
        if ((data->flags & NIF_TIP) != 0) tray->tip = boundedText(data->tip, sizeof data->tip);
        if (tray->status == nullptr && tray->indicator == nullptr) {
            createIcon(tray);
        } else {
            applyImage(tray);
            applyTip(tray);
        }
        refreshIndicatorMenu(tray);
        return true;
    }
    if (tray == nullptr) return false;
    if (action == NIM_DELETE) {
        std::erase(trays, tray);
        destroyIcon(tray);
        return true;
    }
    if ((data->flags & NIF_MESSAGE) != 0) tray->callbackMessage = data->callbackMessage;
    if ((data->flags & NIF_ICON) != 0) {
        tray->icon = data->icon;
        applyImage(tray);
    }
    if ((data->flags & NIF_TIP) != 0) {
        tray->tip = boundedText(data->tip, sizeof data->tip);
        applyTip(tray);
    }
    if ((data->flags & NIF_INFO) != 0 && data->info[0] != '\0') {
        // A notification service may take its time: the balloon does not hold up the caller.
        std::string title = boundedText(data->infoTitle, sizeof data->infoTitle);
        std::string text = boundedText(data->info, sizeof data->info);
        onGtkLater([tray, title, text] {
            if (trayAlive(tray)) showBalloon(tray, title, text);
        });
    }
    refreshIndicatorMenu(tray);
    return true;
}

bool desktopNotifyIcon(uint32_t action, const TrayIconData* data) {
    bool result = false;
    onGtk([&] { result = notifyIconOnGtk(action, data); });
    return result;
}

// ---- popup menus ------------------------------------------------------------------

struct MenuChoice {
    WindowHandle owner;
    uint32_t command;
};

void freeChoice(gpointer data, GClosure*) { delete static_cast<MenuChoice*>(data); }

void onMenuItem(GtkMenuItem*, gpointer data) {
    auto* choice = static_cast<MenuChoice*>(data);
    postMessage(choice->owner, WM_COMMAND, choice->command, 0);
}

void fillMenu(GtkWidget* shell, const MenuEntry* entries, uint32_t count, const PopupMenu& menu, WindowHandle owner) {
    for (uint32_t i = 0; i < count; ++i) {
        const MenuEntry& entry = entries[i];
        GtkWidget* item = nullptr;
        std::string text = boundedText(entry.text, sizeof entry.text);
        if (entry.kind == MenuEntryKind::Separator) {
            item = gtk_separator_menu_item_new();
        } else if (entry.kind == MenuEntryKind::Submenu) {
            item = gtk_menu_item_new_with_label(text.c_str());
            GtkWidget* submenu = gtk_menu_new();
            fillMenu(submenu, menu.submenu, menu.submenuCount, menu, owner);
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu);
        } else {
            if (entry.checked) {
                item = gtk_check_menu_item_new_with_label(text.c_str());
                // Set before the handler is connected: setting it activates the item.
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
            } else {
                item = gtk_menu_item_new_with_label(text.c_str());
            }
            g_signal_connect_data(item, "activate", G_CALLBACK(onMenuItem), new MenuChoice{owner, entry.command},
                                  freeChoice, GConnectFlags(0));
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), item);
    }
}

gboolean destroyWidget(gpointer data) {
    gtk_widget_destroy(GTK_WIDGET(data));
    return G_SOURCE_REMOVE;
}

// The item's activation comes after the menu's deactivation, so the menu goes later.
void onMenuDone(GtkMenuShell* menu, gpointer) { g_idle_add(destroyWidget, menu); }

// The menu's right edge at the cursor, as the monitor asks for it; pushed back on
// screen near the edges.
void placeMenu(GtkMenu* menu, gint* x, gint* y, gboolean* pushIn, gpointer) {
    GdkDisplay* display = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
    gdk_device_get_position(pointer, nullptr, x, y);
    GtkRequisition size;
    gtk_widget_get_preferred_size(GTK_WIDGET(menu), nullptr, &size);
    *x = *x - size.width < 0 ? 0 : *x - size.width;
    *pushIn = TRUE;
}

Tray* indicatorTrayOf(WindowHandle owner) {
    for (Tray* tray : trays) {
        if (tray->window == owner && tray->indicator != nullptr) return tray;
    }
    return nullptr;
}

void showMenuOnGtk(const PopupMenu& menu, WindowHandle owner) {
    GtkWidget* widget = gtk_menu_new();
    fillMenu(widget, menu.entries, menu.count, menu, owner);
    gtk_widget_show_all(widget);
    if (Tray* tray = indicatorTrayOf(owner)) {
        app_indicator_set_menu(tray->indicator, GTK_MENU(widget));
        return;
    }
    g_signal_connect(widget, "deactivate", G_CALLBACK(onMenuDone), nullptr);
    // The press is over by now (the owner answered a posted message), so the menu is
    // placed by hand rather than anchored to an event.
    gtk_menu_popup(GTK_MENU(widget), nullptr, nullptr, placeMenu, nullptr, menuButton, menuTime);
    menuButton = 0;
    menuTime = GDK_CURRENT_TIME;
}

bool desktopShowMenu(const PopupMenu* menu, WindowHandle owner) {
    // The caller may release its record once this returns.
    auto copy = std::make_shared<PopupMenu>(*menu);
    onGtkLater([copy, owner] { showMenuOnGtk(*copy, owner); });
    return true;
}

// ---- message boxes ----------------------------------------------------------------

// Open boxes by their platform window, toolkit thread only.
std::map<WindowHandle, GtkWidget*> boxes;

void onBoxResponse(GtkDialog* dialog, gint, gpointer data) {
    // Off the screen at once; the owner's loop sees WM_CLOSE and takes the box down.
    gtk_widget_hide(GTK_WIDGET(dialog));
    postMessage(reinterpret_cast<WindowHandle>(data), WM_CLOSE, 0, 0);
}

// Destroyed from outside (the X connection's client killed it): closed as well.
void onBoxDestroyed(GtkWidget* widget, gpointer data) {
    auto box = reinterpret_cast<WindowHandle>(data);
    auto found = boxes.find(box);
    if (found == boxes.end() || found->second != widget) return;
    boxes.erase(found);
    postMessage(box, WM_CLOSE, 0, 0);
}

gboolean onBoxDelete(GtkWidget* widget, GdkEvent*, gpointer data) {
    onBoxResponse(GTK_DIALOG(widget), GTK_RESPONSE_DELETE_EVENT, data);
    return TRUE;
}

bool showBoxOnGtk(WindowHandle box, const MessageBoxParams* params) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GtkDialogFlags(0), GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s",
                                               params->text);
    if (dialog == nullptr) return false;
    gtk_window_set_title(GTK_WINDOW(dialog), params->caption);
    // A group of its own, so that the box never holds up the tray icon's clicks.
    GtkWindowGroup* group = gtk_window_group_new();
    gtk_window_group_add_window(group, GTK_WINDOW(dialog));
    g_object_unref(group);
    if ((params->style & MB_USERICON) != 0) {
        GdkPixbuf* image = iconImage(params->icon);
        gtk_window_set_icon(GTK_WINDOW(dialog), image);
        GtkWidget* picture = gtk_image_new_from_pixbuf(image);
        gtk_widget_show(picture);
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(dialog), picture);
    }
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    g_signal_connect(dialog, "response", G_CALLBACK(onBoxResponse), reinterpret_cast<gpointer>(box));
    g_signal_connect(dialog, "delete-event", G_CALLBACK(onBoxDelete), reinterpret_cast<gpointer>(box));
    g_signal_connect(dialog, "destroy", G_CALLBACK(onBoxDestroyed), reinterpret_cast<gpointer>(box));
    gtk_widget_show_all(dialog);
    if ((params->style & MB_SETFOREGROUND) != 0) gtk_window_present(GTK_WINDOW(dialog));
    boxes[box] = dialog;
    return true;
}

bool desktopShowMessageBox(WindowHandle box, const MessageBoxParams* params) {
    bool result = false;
    onGtk([&] { result = showBoxOnGtk(box, params); });
    return result;
}

void desktopCloseMessageBox(WindowHandle box) {
    onGtk([box] {
        auto found = boxes.find(box);
        if (found == boxes.end()) return;
        GtkWidget* dialog = found->second;
        boxes.erase(found);
        gtk_widget_destroy(dialog);
    });
}

// ---- key state and capture ----------------------------------------------------------

bool desktopKeyDown(int virtualKey) { return desktop::keyDown(virtualKey); }

bool desktopCaptureScreen(const char* pngPath) {
    // The primary display's size; the picture starts at the screen's top-left corner.
    int width = 0;
    int height = 0;
    onGtk([&] {
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
        if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
        if (monitor == nullptr) return;
        GdkRectangle area;
        gdk_monitor_get_geometry(monitor, &area);
        int scale = gdk_monitor_get_scale_factor(monitor);
        width = area.width * scale;
        height = area.height * scale;
    });
    return desktop::captureToPng(width, height, pngPath);
}

const ShellImpl kDesktopShell = {
    "desktop",
    desktopNotifyIcon,
    desktopShowMenu,
    desktopShowMessageBox,
    desktopCloseMessageBox,
    desktopKeyDown,
    desktopCaptureScreen,
};

// ---- start-up -----------------------------------------------------------------------

void toolkitMain(std::mutex* lock, std::condition_variable* ready, int* state) {
    gtkThread = std::this_thread::get_id();
    // Owned from the start, so work handed over early waits for this thread.
    g_main_context_acquire(g_main_context_default());
    gdk_set_allowed_backends("x11");
    bool ok = gtk_init_check(nullptr, nullptr) != FALSE;
    if (ok) useIndicator = statusNotifierHostPresent();
    {
        std::lock_guard<std::mutex> guard(*lock);
        *state = ok ? 1 : -1;
        ready->notify_all();
    }
    if (!ok) {
        g_main_context_release(g_main_context_default());
        return;
    }
    // The toolkit lives as long as the process; its thread is never joined.
    gtk_main();
}

}  // namespace

const ShellImpl* desktopShell() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') return nullptr;
    // Before any other X call: the key state and capture connection is used from
    // other threads than the toolkit's.
    XInitThreads();
    static std::mutex lock;
    static std::condition_variable ready;
    static int state = 0;
    std::thread(toolkitMain, &lock, &ready, &state).detach();
    std::unique_lock<std::mutex> guard(lock);
    ready.wait(guard, [&] { return state != 0; });
    if (state < 0) {
        reportFailure("gtk_init_check", display, ENXIO);
        return nullptr;
    }
    return &kDesktopShell;
}

}  // namespace platform::shell
