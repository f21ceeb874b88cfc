// The four entry points every component DLL exports (exports.def), for the class it defines.
#include "comserver/server.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return comserver::getClassObject(comserver::serverClass(), clsid, iid, out);
}

STDAPI DllCanUnloadNow() {
    return comserver::canUnloadNow();
}

STDAPI DllRegisterServer() {
    return comserver::registerServer(comserver::serverClass());
}

STDAPI DllUnregisterServer() {
    return comserver::unregisterServer(comserver::serverClass());
}
