#include "kaMemo.h"

TkaMemo::TkaMemo(QWidget* parent) : QPlainTextEdit(parent) {}
