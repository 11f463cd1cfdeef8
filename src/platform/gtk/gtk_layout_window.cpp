#include "gtk_layout_window.h"

#include <algorithm>
#include <string>

#include "pixel_layout.h"

namespace quillomir::gtk_host {

namespace {

double DisplayDpi() {
    GdkScreen* screen = gdk_screen_get_default();
    return UsableDpi(screen ? gdk_screen_get_resolution(screen) : -1.0);
}

// The table's own font, underline and colour, as Pango attributes of a label.
void ApplyOwnAppearance(GtkLabel* label, const ControlEntry& entry) {
    if (entry.font.IsDefault() && !entry.textColor) {
        return;
    }
    PangoAttrList* attributes = pango_attr_list_new();
    if (!entry.font.IsDefault()) {
        const std::string text = PangoFontText(entry.font);
        PangoFontDescription* font = pango_font_description_from_string(text.c_str());
        pango_attr_list_insert(attributes, pango_attr_font_desc_new(font));
        pango_font_description_free(font);
        if (entry.font.underline) {
            pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        }
    }
    if (entry.textColor) {
        const Rgb rgb = RgbOf(*entry.textColor);
        // Pango's channels are 16-bit: 0xFF becomes 0xFFFF.
        pango_attr_list_insert(attributes,
                               pango_attr_foreground_new(static_cast<guint16>(rgb.red * 257),
                                                         static_cast<guint16>(rgb.green * 257),
                                                         static_cast<guint16>(rgb.blue * 257)));
    }
    gtk_label_set_attributes(label, attributes);
    pango_attr_list_unref(attributes);
}

// A wrapping label asks GTK for room to put its whole text on one line; capped
// at as many average characters as the table's width holds, it wraps there.
void LimitWrapWidth(GtkWidget* label, int width) {
    PangoContext* context = gtk_widget_get_pango_context(label);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, nullptr, nullptr);
    const int charWidth = std::max(pango_font_metrics_get_approximate_char_width(metrics),
                                   pango_font_metrics_get_approximate_digit_width(metrics));
    pango_font_metrics_unref(metrics);
    if (charWidth > 0) {
        gtk_label_set_max_width_chars(GTK_LABEL(label),
                                      std::max(1, width * PANGO_SCALE / charWidth));
    }
}

GtkWidget* NewLabel(const ControlEntry& entry, int width) {
    const std::string caption(entry.caption);
    GtkWidget* widget = gtk_label_new(caption.c_str());
    GtkLabel* label = GTK_LABEL(widget);
    const bool centred = entry.align == TextAlign::Center;
    gtk_label_set_xalign(label, centred ? 0.5F : 0.0F);
    gtk_label_set_yalign(label, 0.0F);
    gtk_label_set_justify(label, centred ? GTK_JUSTIFY_CENTER : GTK_JUSTIFY_LEFT);
    if (entry.wordWrap) {
        gtk_label_set_line_wrap(label, TRUE);
        gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
        LimitWrapWidth(widget, width);
    }
    ApplyOwnAppearance(label, entry);
    return widget;
}

}  // namespace

LayoutWindow::LayoutWindow(const WindowLayout& layout, LayoutEvents& events)
    : layout_(layout), events_(events) {}

LayoutWindow::~LayoutWindow() {
    if (closeSource_ != 0) {
        g_source_remove(closeSource_);
    }
    if (window_) {
        // Going away with the window still open: close it without calling back.
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
    }
}

void LayoutWindow::Create() {
    if (window_) {
        return;
    }
    const double dpi = DisplayDpi();
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(window_);
    const std::string caption(layout_.caption);
    gtk_window_set_title(window, caption.c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, TwipsToPixels(layout_.clientWidth, dpi),
                                TwipsToPixels(layout_.clientHeight, dpi));
    gtk_container_add(GTK_CONTAINER(window_), fixed);

    // Frames first, so that the controls inside them are drawn over them.
    controls_.reserve(layout_.controls.size());
    for (const ControlEntry& entry : layout_.controls) {
        if (entry.kind == ControlKind::Frame) {
            controls_.push_back({&entry, nullptr, nullptr});
        }
    }
    for (const ControlEntry& entry : layout_.controls) {
        if (entry.kind != ControlKind::Frame) {
            controls_.push_back({&entry, nullptr, nullptr});
        }
    }
    for (Control& control : controls_) {
        control.widget = CreateWidget(*control.entry, control, dpi);
        Place(fixed, control, dpi);
    }

    // Each frame's option buttons form one group; the table says which starts selected.
    updating_ = true;
    for (const Control& control : controls_) {
        if (control.entry->initiallySelected) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(control.widget), TRUE);
        }
    }
    updating_ = false;

    // Tab follows the table. An option group is one stop: GTK's radio buttons
    // take the focus only when they are the group's selected one.
    GList* chain = nullptr;
    for (const ControlEntry* entry : FocusOrder(layout_)) {
        chain = g_list_append(chain, Find(entry->name)->placed);
    }
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);

    g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroy), this);
    gtk_widget_show_all(fixed);
}

GtkWidget* LayoutWindow::CreateWidget(const ControlEntry& entry, Control& control, double dpi) {
    const std::string caption(entry.caption);
    GtkWidget* widget = nullptr;
    switch (entry.kind) {
        case ControlKind::Button:
            widget = gtk_button_new_with_label(caption.c_str());
            g_signal_connect(widget, "clicked", G_CALLBACK(OnButtonClicked), this);
            break;
        case ControlKind::Frame:
            widget = gtk_frame_new(caption.c_str());
            break;
        case ControlKind::OptionButton: {
            // Joins whichever option of the frame exists already, whatever
            // order the table lists them in.
            GtkRadioButton* member = nullptr;
            for (const ControlEntry* other : OptionGroup(layout_, entry)) {
                const Control* made = Find(other->name);
                if (made && made->widget) {
                    member = GTK_RADIO_BUTTON(made->widget);
                    break;
                }
            }
            widget = gtk_radio_button_new_with_label_from_widget(member, caption.c_str());
            g_signal_connect(widget, "toggled", G_CALLBACK(OnToggled), this);
            break;
        }
        case ControlKind::CheckBox:
            widget = gtk_check_button_new_with_label(caption.c_str());
            g_signal_connect(widget, "toggled", G_CALLBACK(OnToggled), this);
            break;
        case ControlKind::Label:
            widget = NewLabel(entry, ControlPixels(layout_, entry, dpi).width);
            break;
    }
    control.placed = widget;
    if (entry.kind == ControlKind::Label && entry.clickable) {
        GtkWidget* box = gtk_event_box_new();
        gtk_container_add(GTK_CONTAINER(box), widget);
        gtk_widget_add_events(box, GDK_BUTTON_RELEASE_MASK);
        g_signal_connect(box, "button-release-event", G_CALLBACK(OnLabelRelease), this);
        g_signal_connect(box, "realize", G_CALLBACK(OnLabelRealize), this);
        control.placed = box;
    }
    return widget;
}

void LayoutWindow::Place(GtkWidget* fixed, Control& control, double dpi) {
    const PixelRect rect = ControlPixels(layout_, *control.entry, dpi);
    gtk_widget_set_size_request(control.placed, rect.width, rect.height);
    if (control.placed != control.widget) {
        gtk_widget_set_size_request(control.widget, rect.width, rect.height);
    }
    gtk_fixed_put(GTK_FIXED(fixed), control.placed, rect.x, rect.y);
}

void LayoutWindow::Show() {
    if (window_) {
        gtk_widget_show(window_);
        gtk_window_present(GTK_WINDOW(window_));
    }
}

LayoutWindow::Control* LayoutWindow::Find(std::string_view name) {
    const auto found =
        std::ranges::find(controls_, name, [](const Control& c) { return c.entry->name; });
    return found == controls_.end() ? nullptr : &*found;
}

const LayoutWindow::Control* LayoutWindow::Find(std::string_view name) const {
    return const_cast<LayoutWindow*>(this)->Find(name);
}

bool LayoutWindow::IsChecked(std::string_view control) const {
    const Control* found = Find(control);
    return found && found->widget && GTK_IS_TOGGLE_BUTTON(found->widget) &&
           gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(found->widget));
}

void LayoutWindow::SetChecked(std::string_view control, bool checked) {
    const Control* found = Find(control);
    if (!found || !found->widget || !GTK_IS_TOGGLE_BUTTON(found->widget)) {
        return;
    }
    // Selecting an option clears the others of its group by itself.
    updating_ = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(found->widget), checked ? TRUE : FALSE);
    updating_ = false;
}

void LayoutWindow::SetCaption(std::string_view control, std::string_view caption) {
    const Control* found = Find(control);
    if (!found || !found->widget) {
        return;
    }
    const std::string text(caption);
    if (GTK_IS_LABEL(found->widget)) {
        gtk_label_set_text(GTK_LABEL(found->widget), text.c_str());
    } else if (GTK_IS_FRAME(found->widget)) {
        gtk_frame_set_label(GTK_FRAME(found->widget), text.c_str());
    } else if (GTK_IS_BUTTON(found->widget)) {
        gtk_button_set_label(GTK_BUTTON(found->widget), text.c_str());
    }
}

void LayoutWindow::Close() {
    // Later, not at once: the handler that asks still runs on objects that the
    // window's destruction frees.
    if (window_ && closeSource_ == 0) {
        closeSource_ = g_idle_add(&LayoutWindow::CloseLater, this);
    }
}

gboolean LayoutWindow::CloseLater(gpointer self) {
    auto* window = static_cast<LayoutWindow*>(self);
    window->closeSource_ = 0;
    if (window->window_) {
        gtk_widget_destroy(window->window_);  // may delete window: touch nothing after it
    }
    return G_SOURCE_REMOVE;
}

void LayoutWindow::ShowMessage(std::string_view text) {
    const std::string message(text);
    GtkWidget* box =
        gtk_message_dialog_new(GTK_WINDOW(window_), static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL),
                               GTK_MESSAGE_WARNING, GTK_BUTTONS_OK, "%s", message.c_str());
    const std::string caption(layout_.caption);
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    showingMessage_ = true;
    gtk_dialog_run(GTK_DIALOG(box));
    showingMessage_ = false;
    gtk_widget_destroy(box);
}

void LayoutWindow::OnUserClick(const Control& control) {
    if (!updating_) {
        events_.Clicked(control.entry->name);
    }
}

void LayoutWindow::OnButtonClicked(GtkButton* button, gpointer self) {
    auto* window = static_cast<LayoutWindow*>(self);
    for (const Control& control : window->controls_) {
        if (control.widget == GTK_WIDGET(button)) {
            window->OnUserClick(control);
            return;
        }
    }
}

void LayoutWindow::OnToggled(GtkToggleButton* button, gpointer self) {
    auto* window = static_cast<LayoutWindow*>(self);
    // An option that loses its selection to another is no click on it.
    if (GTK_IS_RADIO_BUTTON(button) && !gtk_toggle_button_get_active(button)) {
        return;
    }
    for (const Control& control : window->controls_) {
        if (control.widget == GTK_WIDGET(button)) {
            window->OnUserClick(control);
            return;
        }
    }
}

gboolean LayoutWindow::OnLabelRelease(GtkWidget* box, GdkEventButton* event, gpointer self) {
    auto* window = static_cast<LayoutWindow*>(self);
    if (event->button != GDK_BUTTON_PRIMARY) {
        return FALSE;
    }
    for (const Control& control : window->controls_) {
        if (control.placed == box) {
            window->OnUserClick(control);
            return TRUE;
        }
    }
    return FALSE;
}

void LayoutWindow::OnLabelRealize(GtkWidget* box, gpointer) {
    // The hand pointer says that the label is a link.
    GdkWindow* window = gtk_widget_get_window(box);
    GdkCursor* hand = gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer");
    if (hand) {
        gdk_window_set_cursor(window, hand);
        g_object_unref(hand);
    }
}

gboolean LayoutWindow::OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer) {
    // No button is the window's default: Enter presses a focused push button,
    // as on Windows, and does nothing to an option or the check box.
    const bool enter = event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter ||
                       event->keyval == GDK_KEY_ISO_Enter;
    GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
    return enter && focus && GTK_IS_TOGGLE_BUTTON(focus) ? TRUE : FALSE;
}

gboolean LayoutWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    return static_cast<LayoutWindow*>(self)->showingMessage_ ? TRUE : FALSE;
}

void LayoutWindow::OnDestroy(GtkWidget*, gpointer self) {
    auto* window = static_cast<LayoutWindow*>(self);
    window->window_ = nullptr;
    if (window->closeSource_ != 0) {
        g_source_remove(window->closeSource_);
        window->closeSource_ = 0;
    }
    window->events_.Destroyed();  // may delete window: touch nothing after it
}

}  // namespace quillomir::gtk_host
