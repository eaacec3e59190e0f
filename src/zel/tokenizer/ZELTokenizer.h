#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zel/platform/ZELObject.h"
#include "zel/platform/ZELRegistry.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"
#include "zel/tokenizer/ZELTokenizerState.h"

class ZELError;

// The truth tokens, "yes" and "no".
extern const char16_t* const ZELTokenizerToken_True;
extern const char16_t* const ZELTokenizerToken_False;

// A value getter on client items, registered by its name in ZELRegistry<ZELValueGetter>: what
// an item answers under that name (none when it has no such value).
using ZELValueGetter = std::function<ZELValue(const ZELObject& item)>;

// An item class as a tokenizer sees it, registered by its name in
// ZELRegistry<ZELTokenizerItemClass>: the name and the test whether an item is of that class
// or of a class derived from it.
struct ZELTokenizerItemClass {
    std::string name;
    std::function<bool(const ZELObject& item)> isKindOfClass;

    // Registers item class T under `name` and answers its entry.
    template <typename T>
    static std::shared_ptr<const ZELTokenizerItemClass> registerItemClass(std::string name);

    // The registered item class `name`, or null.
    static std::shared_ptr<const ZELTokenizerItemClass> itemClassNamed(std::string_view name);
};

class ZELTokenizer;

// A tokenizer class, registered by its name in ZELRegistry<ZELTokenizerClass>: makes an
// instance from the serialized representation (the base class then applies the getter and the
// required class).
struct ZELTokenizerClass {
    std::function<std::shared_ptr<ZELTokenizer>(const ZELValue& representation)> make;
};

// Turns a value, or a client item's value under a named getter, into a set of token texts.
// Every aspect owns one. A tokenizer is configured once (constructor, serialized form or
// accessors) and then shared: any number of threads may tokenize with it at once.
// The base class yields an empty set for any value; subclasses override
// `collectTokensForSingleValue` (and sometimes the other virtual operations).
// Class names ("ZELWordTokenizer", ...) are part of the stored aspect definitions: keep them.
class ZELTokenizer : public ZELObject {
public:
    ZELTokenizer() = default;
    ~ZELTokenizer() override = default;
    ZELTokenizer(const ZELTokenizer&) = delete;
    ZELTokenizer& operator=(const ZELTokenizer&) = delete;

    // A new instance of T without getter or required class.
    template <typename T>
    static std::shared_ptr<T> tokenizer() {
        return std::make_shared<T>();
    }

    // A new instance of T with the getter (empty for none) and the required class (null for
    // none).
    template <typename T>
    static std::shared_ptr<T> tokenizerWithClientObjectGetter(
        std::string getter, std::shared_ptr<const ZELTokenizerItemClass> requiredClass) {
        auto made = std::make_shared<T>();
        made->setClientObjectValueGetter(std::move(getter));
        made->setClientObjectRequiredClass(std::move(requiredClass));
        return made;
    }

    // The tokenizer a serialized representation describes. Not a dictionary: null and an
    // error of code 3. A tokenizer class or item class not registered in this process: null
    // with `*outError` set to no error ("tokenizer not available").
    static std::shared_ptr<ZELTokenizer> tokenizerForSerializedRepresentation(
        const ZELValue& representation, ZELError* outError);

    // Registers a tokenizer class under `name`, replacing one of that name. The library's own
    // classes are registered before the first registration or lookup.
    static void registerTokenizerClass(std::string name, ZELTokenizerClass tokenizerClass);
    template <typename T>
    static void registerTokenizerClass(std::string name) {
        registerTokenizerClass(std::move(name),
                               ZELTokenizerClass{[](const ZELValue&) -> std::shared_ptr<ZELTokenizer> {
                                   return std::make_shared<T>();
                               }});
    }

    // The tokenizer class registered under `name` ("ZELWordTokenizer"), or none.
    static std::optional<ZELTokenizerClass> tokenizerClassNamed(std::string_view name);

    // The shared one-element sets {"yes"} and {"no"}.
    static const ZELTokenSet& trueTokenSet();
    static const ZELTokenSet& falseTokenSet();

    // {"TokenizerClass": class name, "ClientObjectClass": required class name (when set),
    // "ClientObjectGetter": getter name (when set)}. Subclasses with settings of their own add
    // keys. A tokenizer made from its own representation has the same class, getter and
    // required class.
    virtual ZELValue serializedRepresentation() const;

    // Adds the tokens of one value (not a list) to `state`. The base adds nothing.
    virtual void collectTokensForSingleValue(const ZELValue& value, ZELTokenizerState& state) const;

    // The tokens of `value`: none for no value; the tokens of each element for a list; the
    // tokens of the value otherwise (possibly an empty set).
    virtual std::optional<ZELTokenSet> tokensForValue(const ZELValue& value) const;

    // The tokens of the item's value under the getter: none when a required class is set and
    // the item is not of it, and none when the item has no value under the getter.
    virtual std::optional<ZELTokenSet> tokensForClientObject(const ZELObject& item) const;

    // The tokens of typed search text, ordered by where each first occurs in `text` (ignoring
    // case); tokens that do not occur come last. Not normalized: the caller normalizes.
    virtual std::vector<ZELString> tokensForUserInput(const ZELString& text) const;

    // The getter's name; empty for none. Set during configuration, before the tokenizer is
    // shared.
    const std::string& clientObjectValueGetter() const { return clientObjectValueGetter_; }
    void setClientObjectValueGetter(std::string getter) { clientObjectValueGetter_ = std::move(getter); }

    // The required item class; null for none. Read and replaced atomically.
    std::shared_ptr<const ZELTokenizerItemClass> clientObjectRequiredClass() const;
    void setClientObjectRequiredClass(std::shared_ptr<const ZELTokenizerItemClass> requiredClass);

    std::string description() const override;

protected:
    // The item's value under the getter; none when no getter is set or none is registered
    // under its name.
    ZELValue clientObjectValue(const ZELObject& item) const;

private:
    std::string clientObjectValueGetter_;
    mutable std::mutex requiredClassLock_;
    std::shared_ptr<const ZELTokenizerItemClass> clientObjectRequiredClass_;  // guarded by requiredClassLock_
};

template <typename T>
std::shared_ptr<const ZELTokenizerItemClass> ZELTokenizerItemClass::registerItemClass(std::string name) {
    ZELTokenizerItemClass itemClass{
        name, [](const ZELObject& item) { return dynamic_cast<const T*>(&item) != nullptr; }};
    ZELRegistry<ZELTokenizerItemClass>::shared().registerEntry(std::move(name), itemClass);
    return std::make_shared<const ZELTokenizerItemClass>(std::move(itemClass));
}
