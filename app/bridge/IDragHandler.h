#pragma once

#include <Poco/Any.h>
#include <Poco/Path.h>

#include <list>
#include <string>
#include <vector>

namespace ferrovan {

// What the user drags over the window.
enum class DragKind { Other = 0, Files = 1, Fragment = 2 };

struct DragRecord {
    DragKind kind = DragKind::Other;
    // For Files: std::vector<Poco::Path>, the dragged paths; otherwise empty.
    Poco::Any payload;
};

// Interface 1 of a query handler: receives drags over the window and files from the shell.
class IDragHandler {
public:
    // True when the handler took the drag.
    virtual bool filesDragged(const DragRecord& record) = 0;
    // Local paths handed over by the shell; the flags travel on to the page.
    virtual void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) = 0;

protected:
    ~IDragHandler() = default;
};

} // namespace ferrovan
