#include "notification_center.h"

#import <UserNotifications/UserNotifications.h>

#include "ns_text.h"

// The center's delegate: clicks go to the core on the main thread, and a
// notification that arrives while the application is in front still shows.
@interface CVDNotificationCenterDelegate : NSObject <UNUserNotificationCenterDelegate>
@property(nonatomic, assign) corvidale::platform::NotificationCenterDelegate* owner;
// The requests added while the user has not yet answered whether the
// application may notify; nil before it asked and after the answer.
@property(nonatomic, strong) NSMutableArray<UNNotificationRequest*>* waiting;
@end

@implementation CVDNotificationCenterDelegate

- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler {
    completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList);
}

- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler {
    const bool clicked = [[response actionIdentifier] isEqualToString:UNNotificationDefaultActionIdentifier];
    const std::string identifier = corvidale::mac::toStdString([[[response notification] request] identifier]);
    CVDNotificationCenterDelegate* me = self;
    dispatch_async(dispatch_get_main_queue(), ^{
      if (clicked && me.owner != nullptr) me.owner->didReceiveNotificationResponse(identifier);
    });
    completionHandler();
}

@end

namespace corvidale::mac {

MacNotificationCenter::MacNotificationCenter() : delegate_([[CVDNotificationCenterDelegate alloc] init]) {
    // Set before the application finishes launching, so that a click that
    // launched it is delivered too.
    [[UNUserNotificationCenter currentNotificationCenter] setDelegate:delegate_];
}

void MacNotificationCenter::setDelegate(platform::NotificationCenterDelegate* delegate) { delegate_.owner = delegate; }

void MacNotificationCenter::requestAuthorization() {
    if (delegate_.waiting != nil) return;
    // The system asks the user once and remembers; later calls answer at
    // once. A request added before the answer could be dropped as not yet
    // authorized, so what the page shows meanwhile waits for it, denied or
    // not (a denied application's requests are not shown).
    delegate_.waiting = [NSMutableArray array];
    CVDNotificationCenterDelegate* state = delegate_;
    [[UNUserNotificationCenter currentNotificationCenter]
        requestAuthorizationWithOptions:UNAuthorizationOptionAlert | UNAuthorizationOptionSound
                      completionHandler:^(BOOL, NSError*) {
                        // Called on a queue of the system's; the waiting list is the main thread's.
                        dispatch_async(dispatch_get_main_queue(), ^{
                          NSArray<UNNotificationRequest*>* answered = state.waiting;
                          state.waiting = nil;
                          UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
                          for (UNNotificationRequest* request in answered) {
                              [center addNotificationRequest:request withCompletionHandler:nil];
                          }
                        });
                      }];
}

void MacNotificationCenter::add(const platform::NotificationRequest& request) {
    UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
    content.title = toNSString(request.title);
    content.body = toNSString(request.body);
    UNNotificationRequest* native = [UNNotificationRequest requestWithIdentifier:toNSString(request.identifier)
                                                                         content:content
                                                                         trigger:nil];
    if (delegate_.waiting != nil) {
        [delegate_.waiting addObject:native];
        return;
    }
    [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:native withCompletionHandler:nil];
}

void MacNotificationCenter::remove(const std::string& identifier) {
    NSString* name = toNSString(identifier);
    NSIndexSet* withdrawn = [delegate_.waiting indexesOfObjectsPassingTest:^BOOL(UNNotificationRequest* request,
                                                                               NSUInteger, BOOL*) {
      return [[request identifier] isEqualToString:name];
    }];
    if (withdrawn != nil) [delegate_.waiting removeObjectsAtIndexes:withdrawn];
    NSArray<NSString*>* identifiers = @[ name ];
    UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
    [center removePendingNotificationRequestsWithIdentifiers:identifiers];
    [center removeDeliveredNotificationsWithIdentifiers:identifiers];
}

}  // namespace corvidale::mac
