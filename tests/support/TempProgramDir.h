#pragma once

#include "kaGeneral.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

// A fixture that runs each test in a fresh program folder with the library
// started, and leaves nothing behind.
class TempProgramDir : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The program folder, with a trailing separator.
    QString Dir() const;
    // Path of a file in the program folder.
    QString PathOf(const QString& relative) const;

    QTemporaryDir Folder;
    std::unique_ptr<TkaLibrary> Library;
};
