// The failure sink through which library code reports what it cannot go on with.
#include "data/failure_sink.h"

#include <gtest/gtest.h>

#include <string>

TEST(FailureSink, KeepsTheFirstMessageUntilCleared) {
    FailureSink sink;
    EXPECT_FALSE(sink.failed());
    EXPECT_EQ(sink.message(), "");
    sink.report("Error in borders.txt: cannot open the file");
    sink.report("Error in borders.txt: fewer than two lines");
    EXPECT_TRUE(sink.failed());
    EXPECT_EQ(sink.message(), "Error in borders.txt: cannot open the file");
    sink.clear();
    EXPECT_FALSE(sink.failed());
    sink.report("");
    EXPECT_TRUE(sink.failed()); // an empty message is still a failure
}
