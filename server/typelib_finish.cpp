// Build tool: copies a type library compiled by widl into a new one written by the system's own
// type-library writer, giving every enumeration constant that has no help string its own name as
// one. widl refuses help strings on enumeration members, and patching its binary output by hand
// would trust our reading of an undocumented format; ICreateTypeLib2 writes a library that the
// system's reader is known to accept.
//
//   typelib_finish IN.tlb OUT.tlb [IMPORTED.tlb]
//
// Only what this component's library holds is copied: interfaces without members of their own
// (dual or not), coclasses and enumerations. Anything else stops the build instead of being
// copied half-way.
#include <windows.h>
#include <oleauto.h>
#include <cstdio>
#include <vector>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

int g_line = 0;

#define CHECK(expr)                                              \
    do {                                                         \
        const HRESULT hr_ = (expr);                              \
        if (FAILED(hr_)) {                                       \
            g_line = __LINE__;                                   \
            return hr_;                                          \
        }                                                        \
    } while (0)

struct TypeAttr {
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    explicit TypeAttr(ITypeInfo* i) : info(i) {}
    ~TypeAttr() { if (attr) info->ReleaseTypeAttr(attr); }
    HRESULT Load() { return info->GetTypeAttr(&attr); }
};

struct Bstr {
    BSTR s = nullptr;
    ~Bstr() { SysFreeString(s); }
};

class Copier {
public:
    Copier(ITypeLib* source, ICreateTypeLib2* target, ITypeLib* imports)
        : source_(source), target_(target), imports_(imports) {}

    HRESULT Run() {
        TLIBATTR* libAttr = nullptr;
        CHECK(source_->GetLibAttr(&libAttr));
        const TLIBATTR lib = *libAttr;
        source_->ReleaseTLibAttr(libAttr);
        Bstr name, doc, helpFile;
        DWORD helpContext = 0;
        CHECK(source_->GetDocumentation(-1, &name.s, &doc.s, &helpContext, &helpFile.s));
        CHECK(target_->SetName(name.s));
        CHECK(target_->SetGuid(lib.guid));
        CHECK(target_->SetVersion(lib.wMajorVerNum, lib.wMinorVerNum));
        CHECK(target_->SetLcid(lib.lcid));
        // FHASDISKIMAGE describes the loaded copy, not the library.
        CHECK(target_->SetLibFlags(lib.wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN)));
        if (doc.s) CHECK(target_->SetDocString(doc.s));
        if (helpFile.s) CHECK(target_->SetHelpFileName(helpFile.s));
        if (helpContext) CHECK(target_->SetHelpContext(helpContext));

        // All types first, so that references between them can be resolved in any order.
        const UINT count = source_->GetTypeInfoCount();
        for (UINT i = 0; i < count; ++i) {
            ComPtr<ITypeInfo> info;
            CHECK(source_->GetTypeInfo(i, &info));
            TypeAttr a(info.Get());
            CHECK(a.Load());
            Bstr typeName;
            CHECK(info->GetDocumentation(MEMBERID_NIL, &typeName.s, nullptr, nullptr, nullptr));
            // A dual interface is read as its dispatch view; it is written as the interface.
            const TYPEKIND kind = a.attr->typekind == TKIND_DISPATCH && (a.attr->wTypeFlags & TYPEFLAG_FDUAL)
                                      ? TKIND_INTERFACE
                                      : a.attr->typekind;
            ComPtr<ICreateTypeInfo> created;
            CHECK(target_->CreateTypeInfo(typeName.s, kind, &created));
            created_.push_back(created);
            flags_.push_back(0);
        }
        for (UINT i = 0; i < count; ++i) CHECK(CopyType(i));
        for (UINT i = 0; i < count; ++i) {
            CHECK(created_[i]->LayOut());
            // Laying out a coclass adds flags derived from its interfaces; the library keeps the
            // compiler's.
            CHECK(created_[i]->SetTypeFlags(flags_[i]));
        }
        return target_->SaveAllChanges();
    }

private:
    HRESULT CopyType(UINT index) {
        ComPtr<ITypeInfo> info;
        CHECK(source_->GetTypeInfo(index, &info));
        TypeAttr a(info.Get());
        CHECK(a.Load());
        ICreateTypeInfo* target = created_[index].Get();

        ComPtr<ITypeInfo> shape = info;  // the view whose members and bases are copied
        if (a.attr->typekind == TKIND_DISPATCH && (a.attr->wTypeFlags & TYPEFLAG_FDUAL)) {
            HREFTYPE interfacePart = 0;
            CHECK(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &interfacePart));
            ComPtr<ITypeInfo> part;
            CHECK(info->GetRefTypeInfo(interfacePart, &part));
            shape = part;
        }
        TypeAttr s(shape.Get());
        CHECK(s.Load());

        Bstr doc;
        DWORD helpContext = 0;
        CHECK(info->GetDocumentation(MEMBERID_NIL, nullptr, &doc.s, &helpContext, nullptr));
        CHECK(target->SetGuid(a.attr->guid));
        CHECK(target->SetVersion(a.attr->wMajorVerNum, a.attr->wMinorVerNum));
        if (doc.s) CHECK(target->SetDocString(doc.s));
        if (helpContext) CHECK(target->SetHelpContext(helpContext));

        switch (s.attr->typekind) {
        case TKIND_INTERFACE:
            if (s.attr->cFuncs != 0 || s.attr->cVars != 0) return E_NOTIMPL;  // members: not needed yet
            flags_[index] = s.attr->wTypeFlags;
            CHECK(target->SetTypeFlags(flags_[index]));
            CHECK(CopyImplTypes(shape.Get(), s.attr->cImplTypes, target));
            break;
        case TKIND_COCLASS:
            flags_[index] = s.attr->wTypeFlags;
            CHECK(target->SetTypeFlags(flags_[index]));
            CHECK(CopyImplTypes(shape.Get(), s.attr->cImplTypes, target));
            break;
        case TKIND_ENUM:
            flags_[index] = s.attr->wTypeFlags;
            CHECK(target->SetTypeFlags(flags_[index]));
            CHECK(CopyConstants(shape.Get(), s.attr->cVars, target));
            break;
        default:
            return E_NOTIMPL;
        }
        return S_OK;
    }

    HRESULT CopyImplTypes(ITypeInfo* source, UINT count, ICreateTypeInfo* target) {
        for (UINT i = 0; i < count; ++i) {
            HREFTYPE ref = 0;
            CHECK(source->GetRefTypeOfImplType(i, &ref));
            ComPtr<ITypeInfo> base;
            CHECK(source->GetRefTypeInfo(ref, &base));
            ComPtr<ITypeInfo> mapped;
            CHECK(MapReference(base.Get(), &mapped));
            HREFTYPE newRef = 0;
            CHECK(target->AddRefTypeInfo(mapped.Get(), &newRef));
            CHECK(target->AddImplType(i, newRef));
            INT flags = 0;
            CHECK(source->GetImplTypeFlags(i, &flags));
            if (flags) CHECK(target->SetImplTypeFlags(i, flags));
        }
        return S_OK;
    }

    // A type of the source library is referred to by its copy; an imported one (IDispatch) as is.
    HRESULT MapReference(ITypeInfo* type, ITypeInfo** mapped) {
        ComPtr<ITypeLib> owner;
        UINT index = 0;
        CHECK(type->GetContainingTypeLib(&owner, &index));
        TLIBATTR* ownerAttr = nullptr;
        TLIBATTR* sourceAttr = nullptr;
        CHECK(owner->GetLibAttr(&ownerAttr));
        const GUID ownerGuid = ownerAttr->guid;
        owner->ReleaseTLibAttr(ownerAttr);
        CHECK(source_->GetLibAttr(&sourceAttr));
        const GUID sourceGuid = sourceAttr->guid;
        source_->ReleaseTLibAttr(sourceAttr);
        if (IsEqualGUID(ownerGuid, sourceGuid)) {
            if (index >= created_.size()) return E_UNEXPECTED;
            return created_[index].Get()->QueryInterface(IID_PPV_ARGS(mapped));
        }
        // The library's own target may differ from this process's (a 32-bit library written by a
        // 64-bit tool): its imports then come from the given library of that target, whose
        // interfaces have that target's vtable layout.
        TYPEATTR* attr = nullptr;
        CHECK(type->GetTypeAttr(&attr));
        const GUID guid = attr->guid;
        type->ReleaseTypeAttr(attr);
        if (imports_) return imports_->GetTypeInfoOfGuid(guid, mapped);
        *mapped = type;
        type->AddRef();
        return S_OK;
    }

    HRESULT CopyConstants(ITypeInfo* source, UINT count, ICreateTypeInfo* target) {
        ComPtr<ICreateTypeInfo2> target2;
        CHECK(target->QueryInterface(IID_PPV_ARGS(&target2)));
        for (UINT i = 0; i < count; ++i) {
            VARDESC* var = nullptr;
            CHECK(source->GetVarDesc(i, &var));
            const HRESULT added = target->AddVarDesc(i, var);
            const MEMBERID id = var->memid;
            source->ReleaseVarDesc(var);
            CHECK(added);
            Bstr name, doc;
            DWORD helpContext = 0;
            CHECK(source->GetDocumentation(id, &name.s, &doc.s, &helpContext, nullptr));
            CHECK(target->SetVarName(i, name.s));
            // The reason this tool exists: a constant without a help string is described by its name.
            CHECK(target->SetVarDocString(i, doc.s && *doc.s ? doc.s : name.s));
            if (helpContext) CHECK(target->SetVarHelpContext(i, helpContext));
        }
        return S_OK;
    }

    ITypeLib* source_;
    ICreateTypeLib2* target_;
    std::vector<ComPtr<ICreateTypeInfo>> created_;
    std::vector<UINT> flags_;
    ComPtr<ITypeLib> imports_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: typelib_finish IN.tlb OUT.tlb [IMPORTED.tlb]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
    int result = 0;
    {
        ComPtr<ITypeLib> source;
        HRESULT hr = LoadTypeLibEx(argv[1], REGKIND_NONE, &source);
        if (FAILED(hr)) {
            std::fprintf(stderr, "typelib_finish: cannot load %ls: 0x%08lx\n", argv[1], static_cast<unsigned long>(hr));
            result = 1;
        } else {
            TLIBATTR* attr = nullptr;
            hr = source->GetLibAttr(&attr);
            const SYSKIND syskind = SUCCEEDED(hr) ? attr->syskind : SYS_WIN32;
            if (attr) source->ReleaseTLibAttr(attr);
            ComPtr<ITypeLib> imports;
            if (SUCCEEDED(hr) && argc == 4) hr = LoadTypeLibEx(argv[3], REGKIND_NONE, &imports);
            DeleteFileW(argv[2]);
            ComPtr<ICreateTypeLib2> target;
            if (SUCCEEDED(hr)) hr = CreateTypeLib2(syskind, argv[2], &target);
            if (SUCCEEDED(hr)) hr = Copier(source.Get(), target.Get(), imports.Get()).Run();
            if (FAILED(hr)) {
                std::fprintf(stderr, "typelib_finish: cannot write %ls: 0x%08lx (line %d)\n", argv[2],
                             static_cast<unsigned long>(hr), g_line);
                DeleteFileW(argv[2]);
                result = 1;
            }
        }
    }
    CoUninitialize();
    return result;
}
