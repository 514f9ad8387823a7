#include "platform/gtk/GtkDialogHost.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "platform/CallbackFailure.h"
#include "resources/DialogLayout.h"
#include "resources/ProgramIcon.h"
#include "text/TextConversion.h"

namespace platform {
namespace {

// Pixels per dialog unit for the templates' fonts (the home platform's base
// units at 96 dots per inch: a quarter of the average character width, an
// eighth of the character height).
struct DialogUnits {
    double x;
    double y;

    int left(const resources::DialogRect& rect) const { return scale(rect.x, x); }
    int top(const resources::DialogRect& rect) const { return scale(rect.y, y); }
    int width(int units) const { return scale(units, x); }
    int height(int units) const { return scale(units, y); }

    static int scale(int units, double factor) {
        return static_cast<int>(std::lround(units * factor));
    }
};

constexpr DialogUnits kProgressUnits{1.75, 2.0};    // 10-point shell font
constexpr DialogUnits kMessageBoxUnits{1.75, 2.0};  // room for GTK's padded buttons

GtkWidget* placeLabel(GtkWidget* fixed, const DialogUnits& units, const resources::DialogRect& rect,
                      bool wrap) {
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
    if (wrap) {
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
    } else {
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
    }
    gtk_widget_set_size_request(label, units.width(rect.width), units.height(rect.height));
    gtk_fixed_put(GTK_FIXED(fixed), label, units.left(rect), units.top(rect));
    return label;
}

GdkPixbuf* loadProgramIcon() {
    const resources::IconBytes icon = resources::programIconPng();
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (loader == nullptr) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, icon.data, icon.size, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf != nullptr) g_object_ref(pixbuf);
    } else {
        // Closing is required even after a failed write; its error is the
        // same failure.
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

class GtkDialogHost final : public DialogHost {
public:
    GtkDialogHost() : m_interfaceThread(std::this_thread::get_id()) {
        m_icon = loadProgramIcon();
        if (m_icon != nullptr) gtk_window_set_default_icon(m_icon);
        buildWindow();
    }

    ~GtkDialogHost() override {
        assertInterfaceThread();
        if (m_window != nullptr) gtk_widget_destroy(m_window);
        discardPendingTasks();
        if (m_icon != nullptr) g_object_unref(m_icon);
    }

    void setCaption(const std::wstring& caption) override {
        assertInterfaceThread();
        if (m_window == nullptr) return;  // the run is over
        gtk_window_set_title(GTK_WINDOW(m_window), wideToUtf8(caption).c_str());
    }

    void setStatusText(const std::wstring& text) override {
        assertInterfaceThread();
        if (m_window == nullptr) return;  // the run is over
        gtk_label_set_text(GTK_LABEL(m_statusText), wideToUtf8(text).c_str());
    }

    void setProgressText(const std::wstring& text) override {
        assertInterfaceThread();
        if (m_window == nullptr) return;  // the run is over
        gtk_label_set_text(GTK_LABEL(m_progressText), wideToUtf8(text).c_str());
    }

    void setProgressPosition(int percent) override {
        assertInterfaceThread();
        if (m_window == nullptr) return;  // the run is over
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(m_progressBar),
                                      std::clamp(percent, 0, 100) / 100.0);
    }

    void showWindow() override {
        assertInterfaceThread();
        if (m_window == nullptr) return;  // the run is over
        gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_CENTER);
        gtk_widget_show_all(m_window);
        gtk_window_present(GTK_WINDOW(m_window));
    }

    int runModal(DialogEvents& events) override {
        assertInterfaceThread();
        m_events = &events;
        m_running = true;
        m_loop = g_main_loop_new(nullptr, FALSE);
        g_main_loop_run(m_loop);
        g_main_loop_unref(m_loop);
        m_loop = nullptr;
        m_running = false;
        m_events = nullptr;
        gtk_widget_destroy(m_window);
        m_window = nullptr;
        discardPendingTasks();
        m_callbackFailure.rethrow();
        return m_result;
    }

    void endModal(int result) override {
        assertInterfaceThread();
        m_result = result;
        m_running = false;
        // Each open box's run returns the closed result; their nested loops
        // end before the window's.
        for (GtkWidget* box : m_openBoxes) {
            gtk_dialog_response(GTK_DIALOG(box), kSecondButtonResult);
        }
        if (m_loop != nullptr) g_main_loop_quit(m_loop);
    }

    int runMessageBox(const MessageBoxLayout& layout) override {
        assertInterfaceThread();
        namespace box_layout = resources::message_box;
        const DialogUnits& units = kMessageBoxUnits;
        GtkWidget* box = gtk_dialog_new();
        gtk_window_set_title(GTK_WINDOW(box), wideToUtf8(layout.caption).c_str());
        gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
        gtk_window_set_modal(GTK_WINDOW(box), TRUE);
        if (m_window != nullptr && gtk_widget_get_visible(m_window)) {
            gtk_window_set_transient_for(GTK_WINDOW(box), GTK_WINDOW(m_window));
            gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER_ON_PARENT);
        } else {
            gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
        }

        GtkWidget* fixed = gtk_fixed_new();
        gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(box))), fixed, TRUE, TRUE,
                           0);
        GtkWidget* message = placeLabel(fixed, units, box_layout::kMessage, true);
        gtk_label_set_text(GTK_LABEL(message), wideToUtf8(layout.message).c_str());
        // A message longer than the template's area (a failure's cause on
        // lines of its own) grows the box downwards instead of running under
        // the buttons.
        const int messageWidth = units.width(box_layout::kMessage.width);
        gint needed = 0;
        // A hidden widget measures as empty.
        gtk_widget_show(message);
        gtk_widget_get_preferred_height_for_width(message, messageWidth, nullptr, &needed);
        const int growth = std::max(0, needed - units.height(box_layout::kMessage.height));
        gtk_widget_set_size_request(message, messageWidth,
                                    units.height(box_layout::kMessage.height) + growth);
        gtk_widget_set_size_request(fixed, units.width(box_layout::kWidth),
                                    units.height(box_layout::kHeight) + growth);

        GtkWidget* first = placeButton(box, fixed, units, layout.first, kFirstButtonResult, growth);
        placeButton(box, fixed, units, layout.second, kSecondButtonResult, growth);
        gtk_widget_show_all(fixed);
        if (first != nullptr) {
            gtk_widget_set_can_default(first, TRUE);
            gtk_widget_grab_default(first);
            gtk_widget_grab_focus(first);
        }

        m_openBoxes.push_back(box);
        const gint response = gtk_dialog_run(GTK_DIALOG(box));
        m_openBoxes.erase(std::find(m_openBoxes.begin(), m_openBoxes.end(), box));
        gtk_widget_destroy(box);
        return response == kFirstButtonResult ? kFirstButtonResult : kSecondButtonResult;
    }

    void showPlainError(const std::wstring& caption, const std::wstring& text) override {
        assertInterfaceThread();
        GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                GTK_BUTTONS_OK, "%s", wideToUtf8(text).c_str());
        gtk_window_set_title(GTK_WINDOW(box), wideToUtf8(caption).c_str());
        gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
        gtk_dialog_run(GTK_DIALOG(box));
        gtk_widget_destroy(box);
    }

    // Any thread. The task crosses as an owned pointer inside the source; the
    // source's destroy notification frees it whether it ran or not. An idle
    // source always queues: g_main_context_invoke_full would run the task at
    // once on the calling thread whenever no thread owns the main context yet
    // (a worker posting before the modal run has started), which would call
    // GTK from the worker and drop the task.
    void post(std::unique_ptr<PostedTask> task) override {
        auto* delivery = new Delivery{this, std::move(task)};
        g_idle_add_full(G_PRIORITY_DEFAULT, &GtkDialogHost::deliver, delivery,
                        &GtkDialogHost::freeDelivery);
    }

private:
    struct Delivery {
        GtkDialogHost* host;
        std::unique_ptr<PostedTask> task;
    };

    // Interface thread (the default main context's owner).
    static gboolean deliver(gpointer data) {
        auto* delivery = static_cast<Delivery*>(data);
        GtkDialogHost& host = *delivery->host;
        if (host.m_running) {
            std::unique_ptr<PostedTask> task = std::move(delivery->task);
            host.m_callbackFailure.guard(host, [&task] { task->run(); });
        }
        return G_SOURCE_REMOVE;
    }

    static void freeDelivery(gpointer data) { delete static_cast<Delivery*>(data); }

    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<GtkDialogHost*>(data)->requestClose();
        return TRUE;  // the window stays until the owner ends the run
    }

    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
        if (event->keyval != GDK_KEY_Escape) return FALSE;
        static_cast<GtkDialogHost*>(data)->requestClose();
        return TRUE;
    }

    void requestClose() {
        if (!m_running || m_events == nullptr) return;
        m_callbackFailure.guard(*this, [this] { m_events->onCloseRequested(); });
    }

    void buildWindow() {
        namespace layout = resources::progress_dialog;
        const DialogUnits& units = kProgressUnits;
        m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_resizable(GTK_WINDOW(m_window), FALSE);
        gtk_window_set_type_hint(GTK_WINDOW(m_window), GDK_WINDOW_TYPE_HINT_NORMAL);
        gtk_window_set_skip_taskbar_hint(GTK_WINDOW(m_window), FALSE);
        if (m_icon != nullptr) gtk_window_set_icon(GTK_WINDOW(m_window), m_icon);
        g_signal_connect(m_window, "delete-event", G_CALLBACK(&GtkDialogHost::onDelete), this);
        g_signal_connect(m_window, "key-press-event", G_CALLBACK(&GtkDialogHost::onKeyPress), this);

        GtkWidget* fixed = gtk_fixed_new();
        gtk_widget_set_size_request(fixed, units.width(layout::kWidth),
                                    units.height(layout::kHeight));
        gtk_container_add(GTK_CONTAINER(m_window), fixed);
        m_statusText = placeLabel(fixed, units, layout::kStatusText, false);
        m_progressText = placeLabel(fixed, units, layout::kProgressText, false);
        m_progressBar = gtk_progress_bar_new();
        gtk_widget_set_size_request(m_progressBar, units.width(layout::kProgressBar.width),
                                    units.height(layout::kProgressBar.height));
        gtk_fixed_put(GTK_FIXED(fixed), m_progressBar, units.left(layout::kProgressBar),
                      units.top(layout::kProgressBar));
    }

    GtkWidget* placeButton(GtkWidget* box, GtkWidget* fixed, const DialogUnits& units,
                           const MessageBoxButton& button, int response, int lowerBy) {
        if (!button.visible) return nullptr;
        GtkWidget* widget = gtk_button_new_with_label(wideToUtf8(button.text).c_str());
        gtk_widget_set_size_request(widget, units.width(button.rect.width),
                                    units.height(button.rect.height));
        gtk_fixed_put(GTK_FIXED(fixed), widget, units.left(button.rect),
                      units.top(button.rect) + lowerBy);
        g_object_set_data(G_OBJECT(widget), "response", GINT_TO_POINTER(response));
        g_signal_connect(widget, "clicked", G_CALLBACK(&GtkDialogHost::onButton), box);
        return widget;
    }

    static void onButton(GtkWidget* button, gpointer box) {
        gtk_dialog_response(GTK_DIALOG(box),
                            GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "response")));
    }

    // Runs the sources already queued, so that tasks posted too late are
    // freed now instead of at process end.
    void discardPendingTasks() {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    void assertInterfaceThread() const { assert(std::this_thread::get_id() == m_interfaceThread); }

    const std::thread::id m_interfaceThread;
    GdkPixbuf* m_icon = nullptr;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_statusText = nullptr;
    GtkWidget* m_progressText = nullptr;
    GtkWidget* m_progressBar = nullptr;
    GMainLoop* m_loop = nullptr;
    std::vector<GtkWidget*> m_openBoxes;
    DialogEvents* m_events = nullptr;
    bool m_running = false;
    int m_result = kSecondButtonResult;
    CallbackFailure m_callbackFailure;
};

}  // namespace

std::unique_ptr<DialogHost> createGtkDialogHost() {
    if (!gtk_init_check(nullptr, nullptr)) return nullptr;
    return std::make_unique<GtkDialogHost>();
}

}  // namespace platform
