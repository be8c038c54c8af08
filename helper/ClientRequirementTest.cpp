#include "helper/ClientRequirement.h"

#include <gtest/gtest.h>

#include <tuple>

#include "HelperProtocol/HelperConstants.h"

namespace kb {
namespace {

TEST(ClientRequirement, EvaluatesAttestedIdentities) {
    const auto strict = ClientRequirement::parse(HelperConstants::clientRequirement(false)).value();
    const auto development =
        ClientRequirement::parse(HelperConstants::clientRequirement(true)).value();
    const std::tuple<std::optional<Attestation>, bool, bool> cases[] = {
        {Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", false}, true, true},
        {Attestation{"dev.kestrelbay", "Q7Z2K4M9X1", true}, true, true},
        {Attestation{"dev.kestrelbay", "", true}, false, true},
        {Attestation{"dev.kestrelbay", "OTHERTEAM1", true}, false, true},
        {Attestation{"dev.kestrelbay", "OTHERTEAM1", false}, false, false},
        {Attestation{"dev.kestrelbay", "", false}, false, false},
        {Attestation{"dev.kestrelbay.evil", "Q7Z2K4M9X1", true}, false, false},
        {Attestation{"DEV.KESTRELBAY", "Q7Z2K4M9X1", false}, false, false},
        {std::nullopt, false, false},
    };
    for (const auto& [identity, byStrict, byDevelopment] : cases) {
        SCOPED_TRACE(identity ? formatAttestation(*identity) : "none");
        EXPECT_EQ(strict.isSatisfiedBy(identity), byStrict);
        EXPECT_EQ(development.isSatisfiedBy(identity), byDevelopment);
    }
}

TEST(ClientRequirement, ParsesItsSubsetWithItsPrecedenceAndNothingElse) {
    const Attestation app{"a", "T", false};
    const std::pair<std::string, bool> cases[] = {
        {"identifier \"b\" or identifier \"a\" and certificate leaf[subject.OU] = \"T\"", true},
        {"(identifier \"b\" or identifier \"a\") and certificate leaf[subject.OU] = \"X\"", false},
        {"identifier a", true},
        {"identifier = \"a\"", true},
        {"certificate leaf[subject.CN] = \"T\"", false},
        {"certificate 2[field.1.2.840.113635.100.6.2.1] exists", false},
        {"certificate 1[field.1.2.3] exists", false},
        {"anchor apple generic", true},
        {"((((anchor apple generic))))", true},
    };
    for (const auto& [text, satisfied] : cases) {
        SCOPED_TRACE(text);
        auto parsed = ClientRequirement::parse(text);
        ASSERT_TRUE(parsed.ok()) << parsed.error().message;
        EXPECT_EQ(parsed->isSatisfiedBy(app), satisfied);
    }
    for (const std::string& text : std::vector<std::string>{
             "", "   ", "anchor apple", "anchor trusted", "identifier", "identifier \"a",
             "identifier \"a\" and", "identifier \"a\" or or identifier \"b\"", "(identifier \"a\"",
             "identifier \"a\")", "certificate leaf subject.OU = \"T\"",
             "certificate root[subject.OU] = \"T\"", "certificate 1[field.1.2]",
             "info[CFBundleVersion] = \"7\"", "identifier \"a\" ; rm", "not identifier \"a\"",
             std::string(100, '(') + "anchor apple generic" + std::string(100, ')')}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ClientRequirement::parse(text).ok());
    }
}

}  // namespace
}  // namespace kb
