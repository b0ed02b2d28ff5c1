#pragma once

#include <QObject>
#include <QString>
#include <functional>

// The off-site password in the desktop's secret store (QtKeychain). Both
// calls return at once; Done runs later on the main thread.
class TOffsitePasswordStore : public QObject {
    Q_OBJECT

public:
    explicit TOffsitePasswordStore(QObject* parent = nullptr) : QObject(parent) {}

    // Done(password, error): error is empty when the store answered; a
    // password it does not hold comes back empty without error.
    void Read(std::function<void(const QString& password, const QString& error)> done);
    // Done(error): empty when the store took it (an empty password removes it).
    void Write(const QString& password, std::function<void(const QString& error)> done);

private:
    static QString Key();
};
