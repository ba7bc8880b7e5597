#pragma once

#include <QString>

#include <optional>

namespace orvane::cli {

// Where a site password comes from, first found first: --password (which every user on the
// machine sees in ps), --password-file, the environment variable ORVANE_PASSWORD, and with
// none of them and standard input a terminal, the terminal itself.
struct PasswordSources {
    std::optional<QString> option;  // --password
    std::optional<QString> file;    // --password-file
};

struct PasswordResult {
    std::optional<QString> password;  // none: see error, else no source and no terminal
    QString error;                    // a file that cannot be read, or a prompt that failed
};

PasswordResult FindPassword(const PasswordSources& sources);

// The first line of a file, without its line end; nothing when it cannot be read, with why.
std::optional<QString> ReadPasswordFile(const QString& path, QString& error);

// Asks "Password: " on the terminal with the echo off, and puts the echo back however it ends
// (a signal that ends the program too). Nothing when standard input is no terminal.
std::optional<QString> AskPassword(QString& error);

}  // namespace orvane::cli
