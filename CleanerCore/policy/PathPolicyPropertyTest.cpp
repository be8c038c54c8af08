// No protected path is ever allowed, however it is written: every entry of every table is
// rewritten with repeated and trailing slashes, "." pieces, decomposed or singleton-
// equivalent characters and (for the lists compared without regard to case) mixed case.
#include <gtest/gtest.h>
#include <utf8proc.h>

#include <cstdlib>
#include <functional>
#include <span>

#include "CleanerCore/policy/PathPolicy.h"
#include "CleanerCore/policy/ProtectedPatterns.h"

namespace kb {
namespace {

namespace Patterns = ProtectedPatterns;

// The entries of a general table and of its Linux counterpart.
std::vector<std::string_view> both(std::span<const std::string_view> general,
                                   std::span<const std::string_view> onLinux) {
    std::vector<std::string_view> entries(general.begin(), general.end());
    entries.insert(entries.end(), onLinux.begin(), onLinux.end());
    return entries;
}

using CodepointMap = std::function<utf8proc_int32_t(utf8proc_int32_t, std::size_t)>;

std::string mapCodepoints(const std::string& text, const CodepointMap& map) {
    std::string out;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t i = 0;
    std::size_t index = 0;
    while (i < text.size()) {
        utf8proc_int32_t c = 0;
        const auto n =
            utf8proc_iterate(bytes + i, static_cast<utf8proc_ssize_t>(text.size() - i), &c);
        if (n <= 0) {
            out += text[i++];
            continue;
        }
        utf8proc_uint8_t buffer[4];
        const auto length = utf8proc_encode_char(map(c, index++), buffer);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
        i += static_cast<std::size_t>(n);
    }
    return out;
}

std::string decomposed(const std::string& text) {
    utf8proc_uint8_t* nfd = utf8proc_NFD(reinterpret_cast<const utf8proc_uint8_t*>(text.c_str()));
    std::string out(reinterpret_cast<const char*>(nfd));
    std::free(nfd);
    return out;
}

// Canonically equivalent forms of `text`.
std::vector<std::string> unicodeForms(const std::string& text) {
    std::vector<std::string> forms = {text, decomposed(text)};
    // U+212A KELVIN SIGN and U+212B ANGSTROM SIGN are canonically equivalent to K and Å.
    forms.push_back(mapCodepoints(text, [](utf8proc_int32_t c, std::size_t) {
        return c == 'K' ? 0x212A : (c == 0xC5 ? 0x212B : c);
    }));
    return forms;
}

std::vector<std::string> caseForms(const std::string& text) {
    return {
        mapCodepoints(text, [](utf8proc_int32_t c, std::size_t) { return utf8proc_toupper(c); }),
        mapCodepoints(text, [](utf8proc_int32_t c, std::size_t) { return utf8proc_tolower(c); }),
        mapCodepoints(text,
                      [](utf8proc_int32_t c, std::size_t i) {
                          return i % 2 == 0 ? utf8proc_toupper(c) : utf8proc_tolower(c);
                      }),
    };
}

std::vector<std::string> slashForms(const std::string& text) {
    std::string doubled;
    std::string dotted;
    for (const char c : text) {
        doubled += c;
        dotted += c;
        if (c == '/') {
            doubled += '/';
            dotted += "./";
        }
    }
    return {text, text + "/", text + "//.", doubled, dotted, "/." + text + "/./"};
}

enum class LetterCase { significant, ignored };

// Every spelling of `text`; each is also to be written in each of its slashForms.
std::vector<std::string> spellings(const std::string& text, LetterCase letterCase) {
    std::vector<std::string> out;
    for (const auto& form : unicodeForms(text)) {
        out.push_back(form);
        if (letterCase == LetterCase::ignored) {
            for (const auto& cased : caseForms(form)) {
                out.push_back(cased);
                out.push_back(decomposed(cased));
            }
        }
    }
    return out;
}

std::string under(std::string_view base, std::string_view relative) {
    std::string text(base);
    if (!relative.empty()) {
        text += (text.back() == '/' ? "" : "/") + std::string(relative);
    }
    return text;
}

TEST(ProtectedVariants, NoEntryOfAnyTableIsAllowedHoweverItIsWritten) {
    const std::string home = "/home/Zo\u00eb \u00c5ngstr\u00f6m";
    const PathPolicy policy{home, {"/opt/Caf\u00e9 Kitchen", "/srv/keep"}};
    std::size_t checked = 0;
    const auto expectNeverAllowed = [&](const std::string& path, LetterCase letterCase) {
        for (const auto& spelling : spellings(path, letterCase)) {
            for (const auto& variant : slashForms(spelling)) {
                const PolicyDecision decision = policy.evaluate(variant);
                ++checked;
                EXPECT_FALSE(decision.isAllowed()) << "allowed: " << variant << " (from " << path
                                                   << ") as " << *decision.resolvedPath();
            }
        }
    };
    for (const auto root : both(Patterns::deniedRoots, Patterns::linuxDeniedRoots)) {
        expectNeverAllowed(std::string(root), LetterCase::ignored);
    }
    for (const auto subtree : both(Patterns::deniedSubtrees, Patterns::linuxDeniedSubtrees)) {
        expectNeverAllowed(std::string(subtree), LetterCase::ignored);
        expectNeverAllowed(under(subtree, "kbpol child/file"), LetterCase::ignored);
    }
    expectNeverAllowed("/private/kbpol", LetterCase::significant);
    expectNeverAllowed("/private/var/folders/ab/cd/T", LetterCase::significant);
    for (const auto prefix : Patterns::homeParentPrefixes) {
        expectNeverAllowed(std::string(prefix) + "s\u00f8ren", LetterCase::significant);
    }
    for (const auto staging : Patterns::stagingDirectories) {
        expectNeverAllowed(std::string(staging), LetterCase::ignored);
        expectNeverAllowed(under(staging, "kbpol/item"), LetterCase::ignored);
    }
    const std::string inTrash = home + "/.Trash/" + std::string(Patterns::stagingNamePrefix);
    expectNeverAllowed(inTrash + "-kbPol1", LetterCase::ignored);
    expectNeverAllowed(inTrash + "-kbPol1/item", LetterCase::ignored);
#if !defined(__APPLE__)
    for (const auto unlisted : {"/srv/kbpol/x", "/var/www/kbpol", "/lost+found/kbpol", "/kbpol"}) {
        expectNeverAllowed(unlisted, LetterCase::ignored);
    }
#endif
    for (const auto relative : both(Patterns::homeDeniedRoots, Patterns::linuxHomeDeniedRoots)) {
        expectNeverAllowed(under(home, relative), LetterCase::ignored);
    }
    for (const auto relative :
         both(Patterns::homeProtectedLocations, Patterns::linuxHomeProtectedLocations)) {
        expectNeverAllowed(under(home, relative), LetterCase::ignored);
        expectNeverAllowed(under(home, std::string(relative) + "/kbpol/item"), LetterCase::ignored);
    }
    for (const auto name : Patterns::protectedDirectoryNames) {
        expectNeverAllowed("/opt/kbpol/" + std::string(name) + "/item", LetterCase::ignored);
    }
    for (const auto keyword : Patterns::protectedKeywords) {
        std::string spaced;
        for (const char c : keyword) {
            spaced += c;
            spaced += '.';
        }
        expectNeverAllowed("/usr/local/my " + std::string(keyword) + " data", LetterCase::ignored);
        expectNeverAllowed("/tmp/kbpol/_" + spaced + "-x/item", LetterCase::ignored);
    }
    expectNeverAllowed("/opt/Caf\u00e9 Kitchen", LetterCase::significant);
    expectNeverAllowed("/opt/Caf\u00e9 Kitchen/sub/x", LetterCase::significant);
    expectNeverAllowed("/srv/keep/x", LetterCase::significant);
    EXPECT_GT(checked, 1000u);
}

}  // namespace
}  // namespace kb
