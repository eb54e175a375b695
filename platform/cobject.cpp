#include "platform/cobject.h"

const CRuntimeClass CObject::classCObject = {"CObject", static_cast<int>(sizeof(CObject)), 0xFFFF,
                                             nullptr};

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
        if (c == base) return true;
    }
    return false;
}

const CRuntimeClass* CObject::GetRuntimeClass() const {
    return RUNTIME_CLASS(CObject);
}

bool CObject::IsKindOf(const CRuntimeClass* cls) const {
    const CRuntimeClass* mine = GetRuntimeClass();
    return mine != nullptr && cls != nullptr && mine->IsDerivedFrom(cls);
}
