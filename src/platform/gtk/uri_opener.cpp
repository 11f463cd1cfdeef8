#include "uri_opener.h"

#include <gtk/gtk.h>

#include <string>

namespace quillomir::gtk_host {

void UriOpener::Open(std::string_view address) {
    const std::string uri(address);
    GError* error = nullptr;
    if (gtk_show_uri_on_window(nullptr, uri.c_str(), GDK_CURRENT_TIME, &error)) {
        return;
    }
    g_clear_error(&error);
    gchar* argv[] = {const_cast<gchar*>("xdg-open"), const_cast<gchar*>(uri.c_str()), nullptr};
    if (!g_spawn_async(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                       &error)) {
        g_clear_error(&error);
    }
}

}  // namespace quillomir::gtk_host
