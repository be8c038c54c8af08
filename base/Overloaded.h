// Builds one visitor for std::visit from several lambdas.
#pragma once

namespace kb {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace kb
