#include "browser/PendingFilesStore.h"

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

namespace ferrovan {

bool operator==(const FilesHandOver& a, const FilesHandOver& b)
{
    return a.route == b.route && a.paths == b.paths && a.complete == b.complete && a.defer == b.defer;
}

std::ostream& operator<<(std::ostream& out, const FilesHandOver& h)
{
    out << "{" << h.route << ", [";
    for (const std::string& path : h.paths)
        out << path << ";";
    return out << "], complete " << h.complete << ", defer " << h.defer << "}";
}

} // namespace ferrovan

namespace {

using ferrovan::FilesHandOver;
using ferrovan::PendingFilesStore;

TEST(PendingFilesStore, EachHandOverKeepsItsOwnRouteAndFlagsInArrivalOrder)
{
    PendingFilesStore store;
    store.addHandOver("/message/new", {"/home/u/a.txt", "/home/u/b c.txt"}, false, true);
    store.addHandOver("/share/new", {"/home/u/d.pdf"}, true, true);
    const std::vector<FilesHandOver> expected = {
        {"/message/new", {"/home/u/a.txt", "/home/u/b c.txt"}, false, true},
        {"/share/new", {"/home/u/d.pdf"}, true, true},
    };
    EXPECT_EQ(expected, store.takeAll());
}

TEST(PendingFilesStore, TakingEmptiesTheStoreSoAReloadGetsNothingTwice)
{
    PendingFilesStore store;
    EXPECT_TRUE(store.isEmpty());
    EXPECT_TRUE(store.takeAll().empty());
    store.addHandOver("/message/new", {"/home/u/a.txt"}, false, true);
    EXPECT_FALSE(store.isEmpty());
    EXPECT_EQ(1u, store.takeAll().size());
    EXPECT_TRUE(store.isEmpty());
    EXPECT_TRUE(store.takeAll().empty());
    store.addHandOver("/share/new", {"/home/u/e.txt"}, true, true);
    const std::vector<FilesHandOver> later = {{"/share/new", {"/home/u/e.txt"}, true, true}};
    EXPECT_EQ(later, store.takeAll());
}

TEST(PendingFilesStore, TheProgramHasOneStore)
{
    EXPECT_EQ(&PendingFilesStore::getInstance(), &PendingFilesStore::getInstance());
}

} // namespace
