#pragma once

#include <obs.h>

// A small binding of our own to obs-websocket's interface for plug-ins. obs-websocket puts a procedure handler of
// its own on libobs's global one; every call goes through it, so nothing links against obs-websocket.
namespace websocket {

// Called on obs-websocket's thread with the request's data and the object to fill with the answer; for a request
// in a batch that runs "SerialFrame", on OBS's graphics thread between two frames.
using RequestCallback = void (*)(obs_data_t *request, obs_data_t *response, void *data);

enum class VendorStatus { Registered, Absent, TooOld, Refused };

struct Vendor {
	proc_handler_t *handler = nullptr;
	void *handle = nullptr;

	explicit operator bool() const { return handler && handle; }
};

VendorStatus registerVendor(const char *name, Vendor &vendor);
bool registerRequest(const Vendor &vendor, const char *type, RequestCallback callback, void *data);
bool unregisterRequest(const Vendor &vendor, const char *type);
// The data is copied by obs-websocket; the caller keeps its reference.
bool emitEvent(const Vendor &vendor, const char *type, obs_data_t *data);

} // namespace websocket
