#pragma once

#include <utility>

namespace bq {

// Holds one counted reference to a model item. Adopt() takes over a reference the caller
// already owns (a factory's or GetCombi's result); Share() adds one of its own.
template <typename T>
class Ref {
public:
    Ref() = default;
    static Ref Adopt(T* p) { return Ref(p); }
    static Ref Share(T* p) {
        if (p != nullptr) {
            p->AddRef();
        }
        return Ref(p);
    }
    Ref(const Ref& other) : m_p(other.m_p) {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    Ref(Ref&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~Ref() {
        if (m_p != nullptr) {
            m_p->Release();
        }
    }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(m_p, nullptr); }

private:
    explicit Ref(T* p) : m_p(p) {}
    T* m_p = nullptr;
};

}  // namespace bq
