#include "StmObjects.h"

void RegisterStmClasses() {
    TStmObject::RegisterStmClass(TStmDir::StmClass());
    TStmObject::RegisterStmClass(TStmRegister::StmClass());
    TStmObject::RegisterStmClass(TStmJPG::StmClass());
}
