#pragma once

#include <QByteArray>
#include <QString>

// Recovers the user name and password from a viewer's key message:
// "[PGP KEY " + 255 three-digit groups + "]" (a trailing CR LF is allowed).
// Group 5 holds the offset O of the credential field, groups 6 to 25 the
// masks; the twenty groups from O on, XORed with the masks, give ten bytes
// of user name and ten of password, each padded with zeros.
class KeyDecoder
{
public:
    static constexpr int Groups = 255;
    static constexpr int Digits = Groups * 3;
    static constexpr int MinOffset = 30;
    static constexpr int MaxOffset = 200;

    struct Result
    {
        bool ok = false;
        QByteArray user;      // trailing zero bytes dropped
        QByteArray password;  // trailing zero bytes dropped
        QString error;        // why the message was refused, when !ok
    };

    static Result decode(const QByteArray &message);
};
