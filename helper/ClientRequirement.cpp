#include "helper/ClientRequirement.h"

#include <vector>

#include "base/Overloaded.h"

namespace kb {
namespace {

inline constexpr std::string_view developmentField = "field.1.2.840.113635.100.6.2.1";

struct Token {
    enum class Kind { word, string, symbol } kind;
    std::string text;
};

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

Result<std::vector<Token>, ClientRequirement::ParseError> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            ++i;
        } else if (c == '(' || c == ')' || c == '[' || c == ']' || c == '=') {
            tokens.push_back({Token::Kind::symbol, std::string(1, c)});
            ++i;
        } else if (c == '"') {
            const size_t end = text.find('"', i + 1);
            if (end == std::string_view::npos) {
                return fail(ClientRequirement::ParseError{"unterminated string"});
            }
            tokens.push_back({Token::Kind::string, std::string(text.substr(i + 1, end - i - 1))});
            i = end + 1;
        } else if (isWordChar(c)) {
            size_t end = i;
            while (end < text.size() && isWordChar(text[end])) {
                ++end;
            }
            tokens.push_back({Token::Kind::word, std::string(text.substr(i, end - i))});
            i = end;
        } else {
            return fail(ClientRequirement::ParseError{"unexpected character"});
        }
    }
    return tokens;
}

class Parser {
  public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    Result<ClientRequirement::Node, ClientRequirement::ParseError> parseAll() {
        auto node = expression(0);
        if (!node) {
            return node;
        }
        if (at_ != tokens_.size()) {
            return error("unexpected text after the requirement");
        }
        return node;
    }

  private:
    using NodeResult = Result<ClientRequirement::Node, ClientRequirement::ParseError>;

    static NodeResult error(std::string message) {
        return fail(ClientRequirement::ParseError{std::move(message)});
    }
    bool peekWord(std::string_view word) const {
        return at_ < tokens_.size() && tokens_[at_].kind == Token::Kind::word &&
               tokens_[at_].text == word;
    }
    bool peekSymbol(char symbol) const {
        return at_ < tokens_.size() && tokens_[at_].kind == Token::Kind::symbol &&
               tokens_[at_].text[0] == symbol;
    }
    bool acceptWord(std::string_view word) {
        if (peekWord(word)) {
            ++at_;
            return true;
        }
        return false;
    }
    bool acceptSymbol(char symbol) {
        if (peekSymbol(symbol)) {
            ++at_;
            return true;
        }
        return false;
    }
    std::optional<std::string> value() {
        if (at_ < tokens_.size() && tokens_[at_].kind != Token::Kind::symbol) {
            return tokens_[at_++].text;
        }
        return std::nullopt;
    }

    // Nesting is bounded so that a hostile text cannot exhaust the stack.
    NodeResult expression(int depth) {
        if (depth > 64) {
            return error("nesting too deep");
        }
        auto left = term(depth);
        while (left && acceptWord("or")) {
            auto right = term(depth);
            if (!right) {
                return right;
            }
            left = ClientRequirement::Node(std::make_shared<ClientRequirement::Or>(
                ClientRequirement::Or{std::move(*left), std::move(*right)}));
        }
        return left;
    }

    NodeResult term(int depth) {
        auto left = factor(depth);
        while (left && acceptWord("and")) {
            auto right = factor(depth);
            if (!right) {
                return right;
            }
            left = ClientRequirement::Node(std::make_shared<ClientRequirement::And>(
                ClientRequirement::And{std::move(*left), std::move(*right)}));
        }
        return left;
    }

    NodeResult factor(int depth) {
        if (acceptSymbol('(')) {
            auto inner = expression(depth + 1);
            if (!inner) {
                return inner;
            }
            if (!acceptSymbol(')')) {
                return error("missing closing parenthesis");
            }
            return inner;
        }
        if (acceptWord("anchor")) {
            if (acceptWord("apple") && acceptWord("generic")) {
                return ClientRequirement::Node(ClientRequirement::AnchorAppleGeneric{});
            }
            return error("unsupported anchor");
        }
        if (acceptWord("identifier")) {
            acceptSymbol('=');
            if (auto v = value()) {
                return ClientRequirement::Node(ClientRequirement::Identifier{std::move(*v)});
            }
            return error("identifier without a value");
        }
        if (acceptWord("certificate")) {
            return certificate();
        }
        return error("unexpected token");
    }

    NodeResult certificate() {
        std::string index;
        if (acceptWord("leaf")) {
            index = "leaf";
        } else if (at_ < tokens_.size() && tokens_[at_].kind == Token::Kind::word &&
                   tokens_[at_].text.find_first_not_of("0123456789") == std::string::npos) {
            index = tokens_[at_++].text;
        } else {
            return error("unsupported certificate position");
        }
        if (!acceptSymbol('[')) {
            return error("certificate without a field");
        }
        auto field = value();
        if (!field || !acceptSymbol(']')) {
            return error("malformed certificate field");
        }
        if (acceptWord("exists")) {
            return ClientRequirement::Node(
                ClientRequirement::CertificateFieldExists{std::move(index), std::move(*field)});
        }
        if (acceptSymbol('=')) {
            auto v = value();
            if (!v) {
                return error("certificate field without a value");
            }
            if (index != "leaf") {
                return ClientRequirement::Node(ClientRequirement::CertificateFieldExists{
                    std::move(index), "unsupported:" + *field});
            }
            return ClientRequirement::Node(
                ClientRequirement::LeafField{std::move(*field), std::move(*v)});
        }
        return error("certificate clause without a condition");
    }

    std::vector<Token> tokens_;
    size_t at_ = 0;
};

bool evaluate(const ClientRequirement::Node& node, const Attestation& identity) {
    using R = ClientRequirement;
    return std::visit(Overloaded{
                          [](const R::AnchorAppleGeneric&) { return true; },
                          [&](const R::Identifier& n) { return n.value == identity.identifier; },
                          [&](const R::LeafField& n) {
                              return n.field == "subject.OU" && !identity.team.empty() &&
                                     n.value == identity.team;
                          },
                          [&](const R::CertificateFieldExists& n) {
                              return n.index == "1" && n.field == developmentField &&
                                     identity.development;
                          },
                          [&](const std::shared_ptr<R::And>& n) {
                              return evaluate(n->left, identity) && evaluate(n->right, identity);
                          },
                          [&](const std::shared_ptr<R::Or>& n) {
                              return evaluate(n->left, identity) || evaluate(n->right, identity);
                          },
                      },
                      node);
}

}  // namespace

Result<ClientRequirement, ClientRequirement::ParseError> ClientRequirement::parse(
    std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) {
        return fail(tokens.error());
    }
    if (tokens->empty()) {
        return fail(ParseError{"empty requirement"});
    }
    auto root = Parser(std::move(*tokens)).parseAll();
    if (!root) {
        return fail(root.error());
    }
    return ClientRequirement{std::move(*root)};
}

bool ClientRequirement::isSatisfiedBy(const std::optional<Attestation>& identity) const {
    // Without an attested identity not even the anchor holds, so nothing can be satisfied.
    return identity.has_value() && evaluate(root, *identity);
}

}  // namespace kb
