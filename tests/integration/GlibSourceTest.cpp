#include "platform/gtk/GlibSource.h"

#include "integration/MainLoop.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using std::chrono::milliseconds;

// A source goes with its holder, and a block may replace its own source (as
// a page load's time-out does when the failure it reports starts another
// load): the old block runs once, the new one still runs.
TEST(GlibSourceTest, GoesWithItsHolderAndMayReplaceItselfWhileItRuns) {
    int dropped = 0;
    {
        const auto gone = gtk::GlibSource::after(milliseconds(1), [&] { ++dropped; });
    }
    int first = 0;
    int second = 0;
    gtk::GlibSource holder;
    holder = gtk::GlibSource::after(milliseconds(1), [&] {
        ++first;
        holder = gtk::GlibSource::idle([&] { ++second; });
    });
    EXPECT_TRUE(gtk::iterateMainLoopUntil([&] { return second == 1; }, 5.0));
    gtk::iterateMainLoopUntil([] { return false; }, 0.05);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_FALSE(holder.pending());
    EXPECT_EQ(dropped, 0);
}

} // namespace
} // namespace quorvel
