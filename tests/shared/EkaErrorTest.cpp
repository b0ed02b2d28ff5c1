#include "EkaError.h"

#include <gtest/gtest.h>

namespace {

class ENamedForTest : public EkaError {
public:
    using EkaError::EkaError;
};

[[gnu::noinline]] void RaiseNamed() {
    throw ENamedForTest(QStringLiteral("Driver not Open"));
}

TEST(EkaErrorTest, CarriesMessageClassAndWhereItWasRaised) {
    try {
        RaiseNamed();
        FAIL() << "no error";
    } catch (const EkaError& e) {
        EXPECT_EQ(e.message(), "Driver not Open");
        EXPECT_STREQ(e.what(), "Driver not Open");
        EXPECT_TRUE(e.className().endsWith("ENamedForTest")) << e.className().toStdString();
        EXPECT_NE(e.codeAddress(), 0u);
        EXPECT_FALSE(e.moduleName().isEmpty());
        EXPECT_STREQ(e.where().Function, "RaiseNamed");
        EXPECT_TRUE(QString(e.where().File).endsWith("EkaErrorTest.cpp"));
        EXPECT_GT(e.where().Line, 0);
    }
}

} // namespace
