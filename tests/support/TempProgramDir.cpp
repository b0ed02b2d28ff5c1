#include "TempProgramDir.h"

void TempProgramDir::SetUp() {
    ASSERT_TRUE(Folder.isValid());
    SetProgramDir(Folder.path());
    Library = std::make_unique<TkaLibrary>();
}

void TempProgramDir::TearDown() {
    Library.reset();
    SetProgramDir(QString());
    SetClock({});
}

QString TempProgramDir::Dir() const {
    return ProgramDir();
}

QString TempProgramDir::PathOf(const QString& relative) const {
    return Dir() + relative;
}
