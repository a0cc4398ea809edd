// The UserNotifications API the shell uses, declared after Apple's public
// documentation with the macOS release each piece arrived in. A compile net,
// not the SDK: only what src/mac calls is here.
#pragma once

#import <Foundation/Foundation.h>

@class UNUserNotificationCenter;

typedef NS_OPTIONS(NSUInteger, UNAuthorizationOptions) {
    UNAuthorizationOptionBadge = (1 << 0),
    UNAuthorizationOptionSound = (1 << 1),
    UNAuthorizationOptionAlert = (1 << 2),
} API_AVAILABLE(macos(10.14));

typedef NS_OPTIONS(NSUInteger, UNNotificationPresentationOptions) {
    UNNotificationPresentationOptionBadge = (1 << 0),
    UNNotificationPresentationOptionSound = (1 << 1),
    UNNotificationPresentationOptionAlert API_DEPRECATED("Use UNNotificationPresentationOptionList and "
                                                         "UNNotificationPresentationOptionBanner",
                                                         macos(10.14, 11.0)) = (1 << 2),
    UNNotificationPresentationOptionList API_AVAILABLE(macos(11.0)) = (1 << 3),
    UNNotificationPresentationOptionBanner API_AVAILABLE(macos(11.0)) = (1 << 4),
} API_AVAILABLE(macos(10.14));

extern "C" NSString* const UNNotificationDefaultActionIdentifier API_AVAILABLE(macos(10.14));

API_AVAILABLE(macos(10.14))
@interface UNNotificationContent : NSObject <NSCopying, NSMutableCopying>
@property(readonly, copy) NSString* title;
@property(readonly, copy) NSString* body;
@end

API_AVAILABLE(macos(10.14))
@interface UNMutableNotificationContent : UNNotificationContent
@property(copy) NSString* title;
@property(copy) NSString* body;
@end

API_AVAILABLE(macos(10.14))
@interface UNNotificationTrigger : NSObject <NSCopying>
@end

API_AVAILABLE(macos(10.14))
@interface UNNotificationRequest : NSObject <NSCopying>
+ (instancetype)requestWithIdentifier:(NSString*)identifier
                              content:(UNNotificationContent*)content
                              trigger:(UNNotificationTrigger* _Nullable)trigger;
@property(readonly, copy) NSString* identifier;
@end

API_AVAILABLE(macos(10.14))
@interface UNNotification : NSObject <NSCopying>
@property(readonly, copy) UNNotificationRequest* request;
@end

API_AVAILABLE(macos(10.14))
@interface UNNotificationResponse : NSObject <NSCopying>
@property(readonly, copy) UNNotification* notification;
@property(readonly, copy) NSString* actionIdentifier;
@end

API_AVAILABLE(macos(10.14))
@protocol UNUserNotificationCenterDelegate <NSObject>
@optional
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions options))completionHandler;
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
    didReceiveNotificationResponse:(UNNotificationResponse*)response
             withCompletionHandler:(void (^)(void))completionHandler;
@end

API_AVAILABLE(macos(10.14))
@interface UNUserNotificationCenter : NSObject
@property(weak, nullable) id<UNUserNotificationCenterDelegate> delegate;
+ (UNUserNotificationCenter*)currentNotificationCenter;
- (void)requestAuthorizationWithOptions:(UNAuthorizationOptions)options
                      completionHandler:(void (^)(BOOL granted, NSError* _Nullable error))completionHandler;
- (void)addNotificationRequest:(UNNotificationRequest*)request
         withCompletionHandler:(void (^_Nullable)(NSError* _Nullable error))completionHandler;
- (void)removePendingNotificationRequestsWithIdentifiers:(NSArray<NSString*>*)identifiers;
- (void)removeDeliveredNotificationsWithIdentifiers:(NSArray<NSString*>*)identifiers;
@end
