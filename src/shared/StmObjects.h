#pragma once

// The stream-object unit: the record classes and their registration.
#include "StmDir.h"
#include "StmJPG.h"
#include "StmObject.h"
#include "StmRegister.h"

// Registers TStmDir, TStmRegister and TStmJPG, in that order. The registry
// calls it itself on its first use, so both programs find the classes
// registered without a start-up call; calling it again changes nothing.
void RegisterStmClasses();
