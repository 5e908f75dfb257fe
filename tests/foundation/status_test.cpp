// Status and Result: ok and failed states, the value only where there is one, misuse refused.
#include "foundation/status.h"

#include <gtest/gtest.h>

#include <memory>
#include <type_traits>

namespace {

using foundation::Result;
using foundation::Status;
using foundation::StatusCode;

static_assert(!std::is_convertible_v<Status, bool>, "a Status must not read as a truth value");
static_assert(!std::is_constructible_v<bool, Result<int>>, "nor a Result");

Result<int> parsePositive(const std::string& text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return Status::failure(StatusCode::invalidArgument, "\"" + text + "\" is not a positive number");
    return std::stoi(text);
}

TEST(Status, OkAndFailedStatesCarryTheirCodeAndMessage)
{
    const Status ok;
    EXPECT_TRUE(ok.isOk());
    EXPECT_EQ(ok.code(), StatusCode::ok);
    EXPECT_EQ(ok.message(), "");
    EXPECT_EQ(ok, Status::success());

    const Status failed = Status::failure(StatusCode::ioError, "the disk is full");
    EXPECT_FALSE(failed.isOk());
    EXPECT_EQ(failed.code(), StatusCode::ioError);
    EXPECT_EQ(failed.message(), "the disk is full");
    EXPECT_NE(failed, ok);
    EXPECT_NE(failed, Status::failure(StatusCode::notFound, "the disk is full"));

    EXPECT_THROW(Status::failure(StatusCode::ok, "not a failure"), std::logic_error);
}

TEST(Result, HoldsAValueOrAFailureAndGuardsTheValue)
{
    const auto good = parsePositive("42");
    ASSERT_TRUE(good.hasValue());
    EXPECT_EQ(*good, 42);
    EXPECT_TRUE(good.status().isOk());
    EXPECT_EQ(good.valueOr(7), 42);

    const auto bad = parsePositive("4x2");
    EXPECT_FALSE(bad.hasValue());
    EXPECT_EQ(bad.status().code(), StatusCode::invalidArgument);
    EXPECT_EQ(bad.status().message(), "\"4x2\" is not a positive number");
    EXPECT_EQ(bad.valueOr(7), 7);
    EXPECT_THROW((void)bad.value(), std::logic_error);

    EXPECT_THROW((void)Result<int>(Status{}), std::logic_error);
}

TEST(Result, MovesItsValueOut)
{
    Result<std::unique_ptr<int>> owned(std::make_unique<int>(5));
    std::unique_ptr<int> taken = std::move(owned).value();
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(*taken, 5);

    Result<std::string> text(std::string("abc"));
    text->append("d");
    EXPECT_EQ(text.value(), "abcd");
}

} // namespace
