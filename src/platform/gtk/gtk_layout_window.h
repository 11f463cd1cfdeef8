// A top-level GTK window whose controls are rendered from a layout table, at
// the table's twips scaled by the display's DPI, with the table's tab order.
#pragma once

#include <gtk/gtk.h>

#include <string_view>
#include <vector>

#include "settings/config_layout.h"
#include "settings/dialog_host.h"

namespace quillomir::gtk_host {

class LayoutEvents {
  public:
    virtual ~LayoutEvents() = default;

    // A button, option, check box or clickable label was clicked by the user.
    virtual void Clicked(std::string_view control) = 0;
    // The window is gone. This is the last call the window makes, and the
    // receiver may delete the LayoutWindow in it.
    virtual void Destroyed() = 0;
};

class LayoutWindow : public DialogHost {
  public:
    LayoutWindow(const WindowLayout& layout, LayoutEvents& events);
    ~LayoutWindow() override;
    LayoutWindow(const LayoutWindow&) = delete;
    LayoutWindow& operator=(const LayoutWindow&) = delete;

    // Creates the window and its controls, hidden.
    void Create();
    // Shows the window, or brings it back to the front when it is open already.
    void Show();

    // DialogHost
    bool IsChecked(std::string_view control) const override;
    void SetChecked(std::string_view control, bool checked) override;
    void SetCaption(std::string_view control, std::string_view caption) override;
    void Close() override;
    void ShowMessage(std::string_view text) override;

  private:
    struct Control {
        const ControlEntry* entry;
        // What is placed on the window: the control, or the box around a
        // clickable label.
        GtkWidget* placed;
        // What shows the caption and holds the state.
        GtkWidget* widget;
    };

    GtkWidget* CreateWidget(const ControlEntry& entry, Control& control, double dpi);
    void Place(GtkWidget* fixed, Control& control, double dpi);
    Control* Find(std::string_view name);
    const Control* Find(std::string_view name) const;
    void OnUserClick(const Control& control);

    static void OnButtonClicked(GtkButton* button, gpointer self);
    static void OnToggled(GtkToggleButton* button, gpointer self);
    static gboolean OnLabelRelease(GtkWidget* box, GdkEventButton* event, gpointer self);
    static void OnLabelRealize(GtkWidget* box, gpointer self);
    static gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer self);
    static gboolean OnDeleteEvent(GtkWidget* window, GdkEvent* event, gpointer self);
    static void OnDestroy(GtkWidget* window, gpointer self);
    static gboolean CloseLater(gpointer self);

    const WindowLayout& layout_;
    LayoutEvents& events_;
    GtkWidget* window_ = nullptr;
    std::vector<Control> controls_;
    // Set while the program itself changes a control: only the user's clicks
    // run handlers.
    bool updating_ = false;
    // A message box is up: the window stays until it is dismissed, because the
    // handler that showed it still runs on this window's objects.
    bool showingMessage_ = false;
    guint closeSource_ = 0;
};

}  // namespace quillomir::gtk_host
