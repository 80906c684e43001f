#include "controls_font.h"

#ifdef TARVEK_EMBEDDED_UI_FONT

QStringList uiFontFiles()
{
    return {QStringLiteral(":/tarvek/ui-font.ttf")};
}

#else

#include <QFile>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

QStringList uiFontFiles()
{
    // Release 2.0 as fontconfig gives a font's revision: 16.16 fixed point.
    constexpr int Lowest = 0x20000;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(
        FcNameParse(reinterpret_cast<const FcChar8 *>("Liberation Sans:style=Regular:fontformat=TrueType")),
        &FcPatternDestroy);
    const std::unique_ptr<FcObjectSet, decltype(&FcObjectSetDestroy)> wanted(
        FcObjectSetBuild(FC_FILE, FC_FONTVERSION, nullptr), &FcObjectSetDestroy);
    if (!pattern || !wanted)
        return {};
    const std::unique_ptr<FcFontSet, decltype(&FcFontSetDestroy)> fonts(
        FcFontList(nullptr, pattern.get(), wanted.get()), &FcFontSetDestroy);
    std::vector<std::pair<int, QString>> found;
    for (int i = 0; fonts && i < fonts->nfont; ++i) {
        FcChar8 *file = nullptr;
        int version = 0;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &file) == FcResultMatch
            && FcPatternGetInteger(fonts->fonts[i], FC_FONTVERSION, 0, &version) == FcResultMatch
            && version >= Lowest)
            found.emplace_back(version, QFile::decodeName(reinterpret_cast<const char *>(file)));
    }
    // fontconfig's cache can still list a copy damaged since: the caller tries the next.
    std::ranges::stable_sort(found, std::ranges::greater{}, &std::pair<int, QString>::first);
    QStringList files;
    for (const auto &candidate : found)
        files << candidate.second;
    return files;
}

#endif
