#include "bridge/DownloadDestination.h"

#include <glib.h>

namespace ferrovan {

std::string getUserDownloadsDirectory()
{
    // GLib reads user-dirs.dirs once per process; the folder the desktop named at start stays.
    const gchar* folder = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
    return folder ? folder : "";
}

} // namespace ferrovan
