// The class factory that DllGetClassObject hands out: one new factory per call, each
// creating new objects of the one class it was asked for (the shell extension or the
// Explorer command).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "ComObject.h"

namespace orvane {

class ClassFactory final : public ComObject, public IClassFactory {
public:
    // Makes a new object of the factory's class and hands out the requested interface.
    using CreateFunction = HRESULT (*)(REFIID riid, void** ppv);

    // Creates a factory for the class that createObject makes and hands out the
    // requested interface.
    static HRESULT Create(CreateFunction createObject, REFIID riid, void** ppv)
    {
        return ComObject::Create<ClassFactory>(riid, ppv, createObject);
    }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return AddReference(); }
    IFACEMETHODIMP_(ULONG) Release() override { return ReleaseReference(); }
    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    friend class ComObject;
    explicit ClassFactory(CreateFunction createObject) : createObject_(createObject) {}
    ~ClassFactory() override = default;

    CreateFunction createObject_;
};

} // namespace orvane
