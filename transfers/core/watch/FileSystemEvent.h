#pragma once

namespace fv_transfers {
namespace files_watch {

enum FileSystemEvent {
    FileSystemEventOther = 0,
    FileSystemEventAdded = 1,
    FileSystemEventDeleted = 2,
    FileSystemEventModified = 3
};

} // namespace files_watch
} // namespace fv_transfers
