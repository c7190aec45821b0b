// The per-thread failure sink through which library code reports what it cannot go on with.
#include "data/failure_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

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

TEST(FailureSink, ScopesNestAndEachThreadHasItsOwn) {
    FailureSink outer;
    FailureSink inner;
    {
        const FailureScope outerScope(outer);
        {
            const FailureScope innerScope(inner);
            reportFailure("inner");
            // Another thread reports to a sink of its own, not to the ones installed here.
            std::thread other([] {
                reportFailure("other thread");
                EXPECT_EQ(failureSink().message(), "other thread");
            });
            other.join();
        }
        reportFailure("outer");
        EXPECT_EQ(&failureSink(), &outer);
    }
    EXPECT_EQ(inner.message(), "inner");
    EXPECT_EQ(outer.message(), "outer");
    EXPECT_NE(&failureSink(), &outer);
    EXPECT_NE(&failureSink(), &inner);
}
