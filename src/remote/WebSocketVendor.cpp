#include "remote/WebSocketVendor.hpp"

namespace websocket {

namespace {

// The record obs-websocket copies a request callback from: the function, then its data.
struct CallbackRecord {
	RequestCallback callback;
	void *data;
};

// Vendors and their requests came with the first version of the interface; later ones only add to it.
constexpr long long kMinimumApiVersion = 1;

// One call with its data, freed on every way out.
class Call {
public:
	Call() { calldata_init(&data); }
	~Call() { calldata_free(&data); }
	Call(const Call &) = delete;
	Call &operator=(const Call &) = delete;

	calldata_t data;
};

bool callVendor(const Vendor &vendor, const char *procedure, Call &call)
{
	if (!vendor) {
		return false;
	}
	calldata_set_ptr(&call.data, "vendor", vendor.handle);
	return proc_handler_call(vendor.handler, procedure, &call.data) && calldata_bool(&call.data, "success");
}

} // namespace

VendorStatus registerVendor(const char *name, Vendor &vendor)
{
	vendor = Vendor();
	proc_handler_t *global = obs_get_proc_handler();
	Call lookup;
	if (!global || !proc_handler_call(global, "obs_websocket_api_get_ph", &lookup.data)) {
		return VendorStatus::Absent;
	}
	auto *handler = static_cast<proc_handler_t *>(calldata_ptr(&lookup.data, "ph"));
	if (!handler) {
		return VendorStatus::Absent;
	}
	Call version;
	// The first version had no way to ask for the version.
	const long long api = proc_handler_call(handler, "get_api_version", &version.data)
				      ? calldata_int(&version.data, "version")
				      : 1;
	if (api < kMinimumApiVersion) {
		return VendorStatus::TooOld;
	}
	Call registration;
	calldata_set_string(&registration.data, "name", name);
	if (!proc_handler_call(handler, "vendor_register", &registration.data)) {
		return VendorStatus::Refused;
	}
	void *handle = calldata_ptr(&registration.data, "vendor");
	if (!handle) {
		return VendorStatus::Refused;
	}
	vendor.handler = handler;
	vendor.handle = handle;
	return VendorStatus::Registered;
}

bool registerRequest(const Vendor &vendor, const char *type, RequestCallback callback, void *data)
{
	CallbackRecord record{callback, data};
	Call call;
	calldata_set_string(&call.data, "type", type);
	calldata_set_ptr(&call.data, "callback", &record);
	return callVendor(vendor, "vendor_request_register", call);
}

bool unregisterRequest(const Vendor &vendor, const char *type)
{
	Call call;
	calldata_set_string(&call.data, "type", type);
	return callVendor(vendor, "vendor_request_unregister", call);
}

bool emitEvent(const Vendor &vendor, const char *type, obs_data_t *data)
{
	Call call;
	calldata_set_string(&call.data, "type", type);
	calldata_set_ptr(&call.data, "data", data);
	return callVendor(vendor, "vendor_event_emit", call);
}

} // namespace websocket
