// Opens a web address with the user's default handler.
#pragma once

#include <string_view>

#include "settings/shell.h"

namespace quillomir::win32 {

class ShellExecuteOpener : public Shell {
  public:
    void Open(std::string_view address) override;
};

}  // namespace quillomir::win32
