#pragma once

#include <QPlainTextEdit>

// A multi-line edit; it keeps nothing in the configuration file.
class TkaMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TkaMemo(QWidget* parent = nullptr);
};
