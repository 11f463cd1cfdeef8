// What the settings dialog's and the About box's behaviour needs from the window
// that shows them. Controls are named as in their layout table.
#pragma once

#include <string_view>

namespace quillomir {

class DialogHost {
  public:
    virtual ~DialogHost() = default;

    // Option buttons and the check box: whether it is selected (checked).
    virtual bool IsChecked(std::string_view control) const = 0;
    // Selecting an option button clears the other options of its frame.
    virtual void SetChecked(std::string_view control, bool checked) = 0;
    virtual void SetCaption(std::string_view control, std::string_view caption) = 0;
    // Closes the window once the current handler has returned.
    virtual void Close() = 0;
    // A message box over the window; returns when the user has dismissed it.
    virtual void ShowMessage(std::string_view text) = 0;
};

}  // namespace quillomir
