#pragma once

#include <QString>

#include <memory>

// The letters a listing files names under, as the readers of the collation locale expect
// them: Ö under O in German and after Z in Swedish, CH after H in Czech. Names in other
// scripts get their own script's letters (Cyrillic letters, Japanese kana rows), Chinese
// characters outside Chinese locales and whatever starts with no letter get "#".
// Reads the environment when made: make one per listing, not one per process.
class AlphabeticIndex
{
public:
    AlphabeticIndex();
    ~AlphabeticIndex();
    AlphabeticIndex(const AlphabeticIndex &) = delete;
    AlphabeticIndex &operator=(const AlphabeticIndex &) = delete;

    // The heading the name is filed under. The caller trims: a leading blank gives "#".
    QString letter(const QString &name) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
