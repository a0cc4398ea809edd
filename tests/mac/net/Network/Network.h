// The Network framework's path monitor, declared after Apple's public
// documentation (macOS 10.14). A compile net, not the SDK: only what src/mac
// calls is here. Its objects are Objective-C objects under ARC, as the SDK
// declares them when compiling Objective-C.
#pragma once

#import <Foundation/Foundation.h>

@protocol OS_nw_object <NSObject>
@end
@protocol OS_nw_path_monitor <OS_nw_object>
@end
@protocol OS_nw_path <OS_nw_object>
@end
typedef NSObject<OS_nw_path_monitor>* nw_path_monitor_t;
typedef NSObject<OS_nw_path>* nw_path_t;

typedef enum {
    nw_path_status_invalid = 0,
    nw_path_status_satisfied = 1,
    nw_path_status_unsatisfied = 2,
    nw_path_status_satisfiable = 3,
} nw_path_status_t;

typedef void (^nw_path_monitor_update_handler_t)(nw_path_t path);

extern "C" {
nw_path_monitor_t nw_path_monitor_create(void) API_AVAILABLE(macos(10.14));
void nw_path_monitor_set_queue(nw_path_monitor_t monitor, dispatch_queue_t queue) API_AVAILABLE(macos(10.14));
void nw_path_monitor_set_update_handler(nw_path_monitor_t monitor, nw_path_monitor_update_handler_t update_handler)
    API_AVAILABLE(macos(10.14));
void nw_path_monitor_start(nw_path_monitor_t monitor) API_AVAILABLE(macos(10.14));
void nw_path_monitor_cancel(nw_path_monitor_t monitor) API_AVAILABLE(macos(10.14));
nw_path_status_t nw_path_get_status(nw_path_t path) API_AVAILABLE(macos(10.14));
}
