// Run-time class information in the style the commands and the dialog rely on:
// every class record names its class and links to its base, and IsKindOf walks that chain.
#pragma once

struct CRuntimeClass {
    const char* m_lpszClassName;
    int m_nObjectSize;
    unsigned m_wSchema;
    const CRuntimeClass* m_pBaseClass;

    bool IsDerivedFrom(const CRuntimeClass* base) const;
};

class CObject {
  public:
    static const CRuntimeClass classCObject;

    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual void Serialize() {}

    bool IsKindOf(const CRuntimeClass* cls) const;

  protected:
    CObject() = default;
};

#define RUNTIME_CLASS(cls) (&cls::class##cls)

#define DECLARE_DYNAMIC(cls)               \
  public:                                  \
    static const CRuntimeClass class##cls; \
    const CRuntimeClass* GetRuntimeClass() const override;

// No dynamic creation and no serialization schema: the schema field stays 0xFFFF.
#define IMPLEMENT_DYNAMIC(cls, base)                                                    \
    const CRuntimeClass cls::class##cls = {#cls, static_cast<int>(sizeof(cls)), 0xFFFF, \
                                           RUNTIME_CLASS(base)};                        \
    const CRuntimeClass* cls::GetRuntimeClass() const {                                 \
        return RUNTIME_CLASS(cls);                                                      \
    }
