// Clock-like duration text from numbers of any kind; nothing for anything else.
#include "model/duration_value_transformer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

using model::DurationValueTransformer;

TEST(DurationValueTransformer, Minutes)
{
    const DurationValueTransformer transformer;
    EXPECT_EQ(transformer.transformedValue(0), "00:00");
    EXPECT_EQ(transformer.transformedValue(59), "00:59");
    EXPECT_EQ(transformer.transformedValue(60L), "01:00");
    EXPECT_EQ(transformer.transformedValue(1439LL), "23:59");
    EXPECT_EQ(transformer.transformedValue(1500u), "25:00");
    EXPECT_EQ(transformer.transformedValue(std::int16_t{6000}), "100:00");
    EXPECT_EQ(transformer.transformedValue(-1), "-0:01");
    EXPECT_EQ(transformer.transformedValue(std::numeric_limits<std::uint64_t>::max()), std::nullopt);
}

TEST(DurationValueTransformer, FractionsAreCutTowardZero)
{
    const DurationValueTransformer transformer;
    EXPECT_EQ(transformer.transformedValue(90.9), "01:30");
    EXPECT_EQ(transformer.transformedValue(59.99f), "00:59");
    EXPECT_EQ(transformer.transformedValue(-0.5), "00:00");
    EXPECT_EQ(transformer.transformedValue(-60.5), "-1:00");
    EXPECT_EQ(transformer.transformedValue(std::nan("")), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(std::numeric_limits<double>::infinity()), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(1e19), std::nullopt);
}

TEST(DurationValueTransformer, NothingForNothingAndNonNumbers)
{
    const DurationValueTransformer transformer;
    EXPECT_EQ(transformer.transformedValue(std::any()), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(std::string("90")), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(std::chrono::system_clock::now()), std::nullopt);
    EXPECT_EQ(transformer.transformedValue(true), std::nullopt);

    EXPECT_EQ(DurationValueTransformer::transformedValueClass(), typeid(std::string));
    EXPECT_FALSE(DurationValueTransformer::allowsReverseTransformation());
}
