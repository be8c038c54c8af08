// The client requirement: a small parser and evaluator for the subset of the code-signing
// requirement language that the helper's requirement text uses.
//
//   expr    := term ("or" term)*
//   term    := factor ("and" factor)*
//   factor  := "(" expr ")"
//            | "anchor" "apple" "generic"
//            | "identifier" ("=")? STRING
//            | "certificate" ("leaf" | N) "[" FIELD "]" ("=" STRING | "exists")
//   STRING  := a double-quoted text, or a bare word of letters, digits, '.', '-', '_'
//
// Evaluation against the code identity that root attested on the peer's executable:
// `anchor apple generic` holds for any attested executable; `identifier` compares the
// attested identifier; `certificate leaf[subject.OU] = X` compares the attested team;
// `certificate 1[field.1.2.840.113635.100.6.2.1] exists` holds for an identity attested as
// a development one. Any other certificate clause parses but never holds.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/Result.h"
#include "platform/PeerIdentity.h"

namespace kb {

struct ClientRequirement {
    struct AnchorAppleGeneric {};
    struct Identifier {
        std::string value;
    };
    struct LeafField {
        std::string field;
        std::string value;
    };
    struct CertificateFieldExists {
        std::string index;  // "leaf" or a decimal index
        std::string field;
    };
    struct And;
    struct Or;
    using Node = std::variant<AnchorAppleGeneric, Identifier, LeafField, CertificateFieldExists,
                              std::shared_ptr<And>, std::shared_ptr<Or>>;
    struct And {
        Node left, right;
    };
    struct Or {
        Node left, right;
    };

    Node root;

    struct ParseError {
        std::string message;
    };
    static Result<ClientRequirement, ParseError> parse(std::string_view text);

    // False when nothing was attested.
    bool isSatisfiedBy(const std::optional<Attestation>& identity) const;
};

}  // namespace kb
