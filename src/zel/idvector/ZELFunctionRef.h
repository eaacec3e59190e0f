#pragma once

#include <memory>
#include <type_traits>
#include <utility>

// A non-owning reference to a callable, for visitor arguments on hot paths (ID enumeration,
// buffer access, binary-search comparators): three words, no allocation, one indirect call.
// The referenced callable must outlive the call that receives the reference; pass lambdas
// directly as arguments, do not store a ZELFunctionRef.
template <typename Signature>
class ZELFunctionRef;

template <typename Result, typename... Arguments>
class ZELFunctionRef<Result(Arguments...)> {
public:
    template <typename Callable,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<Callable>, ZELFunctionRef> &&
                                          !std::is_function_v<std::remove_reference_t<Callable>> &&
                                          !std::is_pointer_v<std::decay_t<Callable>> &&
                                          std::is_invocable_r_v<Result, Callable&, Arguments...>>>
    ZELFunctionRef(Callable&& callable) noexcept  // NOLINT: implicit by design
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(callable)))),
          trampoline_([](const ZELFunctionRef& self, Arguments... arguments) -> Result {
              return (*static_cast<std::remove_reference_t<Callable>*>(self.object_))(
                  std::forward<Arguments>(arguments)...);
          }) {}

    ZELFunctionRef(Result (*function)(Arguments...)) noexcept  // NOLINT: implicit by design
        : function_(function),
          trampoline_([](const ZELFunctionRef& self, Arguments... arguments) -> Result {
              return self.function_(std::forward<Arguments>(arguments)...);
          }) {}

    Result operator()(Arguments... arguments) const {
        return trampoline_(*this, std::forward<Arguments>(arguments)...);
    }

private:
    void* object_ = nullptr;
    Result (*function_)(Arguments...) = nullptr;
    Result (*trampoline_)(const ZELFunctionRef&, Arguments...);
};
