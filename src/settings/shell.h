// Handing a web address to the user's browser.
#pragma once

#include <string_view>

namespace quillomir {

class Shell {
  public:
    virtual ~Shell() = default;

    // Opens the address with the system's default handler; failures are ignored.
    virtual void Open(std::string_view address) = 0;
};

}  // namespace quillomir
