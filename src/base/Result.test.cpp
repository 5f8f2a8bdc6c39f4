#include "base/Result.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace sarnika {
namespace {

struct Calls {
    int tried = 0;
    int reachedEnd = 0;
};

// Half of an even number, or an error; counts its calls so a macro that evaluates its
// expression twice, or goes on after an error, shows.
Result<std::unique_ptr<int>> half(int number, Calls& calls) {
    ++calls.tried;
    if (number % 2 != 0) {
        return makeError(Error::Code::Malformed, std::to_string(number) + " is odd");
    }
    return std::make_unique<int>(number / 2);
}

Result<int> quarter(int number, Calls& calls) {
    SARNIKA_TRY_ASSIGN(halved, half(number, calls));
    SARNIKA_TRY_ASSIGN(quartered, half(*halved, calls));
    ++calls.reachedEnd;
    return *quartered;
}

Status even(int number, Calls& calls) {
    SARNIKA_TRY(half(number, calls));
    ++calls.reachedEnd;
    return {};
}

TEST(ResultTry, PassesValuesOnOrReturnsTheFirstErrorAfterOneEvaluation) {
    Calls whole;
    const Result<int> twelve = quarter(12, whole);
    ASSERT_TRUE(twelve);
    EXPECT_EQ(*twelve, 3);
    EXPECT_EQ(whole.tried, 2);
    EXPECT_EQ(whole.reachedEnd, 1);

    Calls stopped;
    const Result<int> six = quarter(6, stopped);
    ASSERT_FALSE(six);
    EXPECT_EQ(six.error().code, Error::Code::Malformed);
    EXPECT_EQ(six.error().message, "3 is odd");
    EXPECT_EQ(stopped.tried, 2);
    EXPECT_EQ(stopped.reachedEnd, 0);

    Calls status;
    EXPECT_TRUE(even(4, status));
    const Status five = even(5, status);
    ASSERT_FALSE(five);
    EXPECT_EQ(five.error().message, "5 is odd");
    EXPECT_EQ(status.tried, 2);
    EXPECT_EQ(status.reachedEnd, 1);
}

} // namespace
} // namespace sarnika
