#pragma once

#include "linux/NautilusExtension.h"

#include <string>
#include <vector>

namespace fv_test {

// Loads an extension module the way the file manager does: a GTypeModule whose load opens the
// library lazily and locally, looks up the three entry points and initialises it; then one object
// of each type the module lists. A GType cannot be registered twice, so a process loads a path
// once and keeps it, as the file manager does.
class NautilusModuleLoader {
public:
    // Throws with the loader's error when the module cannot be loaded.
    static const NautilusModuleLoader& load(const std::string& path);

    const std::vector<GObject*>& objects() const { return m_objects; }

private:
    explicit NautilusModuleLoader(const std::string& path);

    std::vector<GObject*> m_objects;
};

} // namespace fv_test
