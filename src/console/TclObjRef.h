#pragma once

#include <tcl.h>

#include <utility>

// A Tcl object held for as long as this lives.
class CObjRef {
public:
    CObjRef() = default;
    explicit CObjRef(Tcl_Obj* obj) : m_obj(obj)
    {
        if (m_obj)
            Tcl_IncrRefCount(m_obj);
    }
    CObjRef(const CObjRef& other) : CObjRef(other.m_obj) {}
    CObjRef& operator=(const CObjRef& other)
    {
        CObjRef copy(other);
        std::swap(m_obj, copy.m_obj);
        return *this;
    }
    ~CObjRef()
    {
        if (m_obj)
            Tcl_DecrRefCount(m_obj);
    }
    Tcl_Obj* Get() const { return m_obj; }

private:
    Tcl_Obj* m_obj = nullptr;
};
