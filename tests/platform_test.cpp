// The platform layer's promises that a run relies on at the system's edge.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "platform.h"
#include "test_support.h"

namespace {

using namespace pixmar_test;

// Opened and examined in another thread: a FIFO that made the open wait
// would fail this test after five seconds instead of hanging it.
TEST(Platform, OnlyRegularFilesAreOpenedAndNothingWaits)
{
    ScratchFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    write_file(folder / "file", {'B', 'M'});
    struct OpenCase {
        std::string path;
        bool opens;
    };
    const OpenCase cases[] = {{(folder / "pipe").string(), false}, {"/dev/null", false}, {folder.path().string(), false},
                              {(folder / "missing").string(), false}, {(folder / "file").string(), true}};
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.path);
        auto opened = std::make_shared<std::promise<bool>>();
        std::future<bool> result = opened->get_future();
        std::thread([opened, path = c.path] {
            std::FILE* file = pixmar::open_regular_file(path);
            opened->set_value(file != nullptr);
            if (file)
                std::fclose(file);
        }).detach();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the open waited";
        EXPECT_EQ(result.get(), c.opens);
    }
}

}  // namespace
#endif
