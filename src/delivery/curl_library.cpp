#include "delivery/curl_library.h"

#include <dlfcn.h>

#include <mutex>

namespace {

struct LoadedLibrary
{
    CurlLibrary functions;
    bool loaded = false;
    QString error;
};

template <typename Function> bool resolve(void *handle, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(::dlsym(handle, name));
    return function != nullptr;
}

LoadedLibrary load()
{
    LoadedLibrary library;
    // The library stays loaded for the rest of the run: workers may still be inside it.
    void *handle = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        library.error = QString::fromLocal8Bit(::dlerror());
        return library;
    }
    CurlLibrary &f = library.functions;
    library.loaded = resolve(handle, "curl_global_init", f.global_init) &&
                     resolve(handle, "curl_easy_init", f.easy_init) &&
                     resolve(handle, "curl_easy_setopt", f.easy_setopt) &&
                     resolve(handle, "curl_easy_perform", f.easy_perform) &&
                     resolve(handle, "curl_easy_cleanup", f.easy_cleanup) &&
                     resolve(handle, "curl_easy_strerror", f.easy_strerror);
    if (!library.loaded)
        library.error = QStringLiteral("libcurl lacks a function the FTP client needs");
    else
        f.global_init(CURL_GLOBAL_DEFAULT);
    return library;
}

} // namespace

const CurlLibrary *curlLibrary(QString *error)
{
    static std::once_flag once;
    static LoadedLibrary library;
    std::call_once(once, [] { library = load(); });
    if (!library.loaded && error)
        *error = library.error;
    return library.loaded ? &library.functions : nullptr;
}
