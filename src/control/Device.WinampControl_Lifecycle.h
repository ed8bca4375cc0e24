// The server's calls into this module, from load to unload, in the order they
// come: what each does here, and where it is handled. The other files describe
// their own part and point here for the order.
//
// Every call comes on the server's one thread, and so do the timer ticks and
// the players' answers that its message loop brings between the calls. No
// exception leaves an entry: each runs under the guard (sdk/KDOGuard.h), which
// sends one "EXCEPTION" debug line whose data is the entry's name (given below
// in brackets) and answers E_OUTOFMEMORY or E_FAIL.
//
//  1. Load. The server loads WinampControl.dll and calls its one export,
//     KDOModuleInfo, for the module descriptor (module/Device.WinampControl):
//     constant data, complete when the library is loaded; no code runs for it.
//
//  2. Registration: the descriptor's OnRegister(kernel) ["OnRegister"]. The
//     module keeps the kernel for every instance to come, logs "Register", and
//     from now on tells caught exceptions to the kernel's debug server. A
//     second registration replaces the kernel.
//
//  3. Creation: OnCreateInstance(id, &instance) ["OnCreateInstance"], once for
//     each configured instance; refused before registration. It logs "Creating
//     new Instance..." and makes a TKDOWinampControl, whose steps are listed in
//     order in instance/Device.WinampControl_Interface.h: the server's services,
//     the script functions registered under the instance's id, the player link
//     bound to "WA_KDO_<id>", the status mirror's timer, the settings loaded
//     (step 4), "Interface Create". The server gets the one reference there is,
//     to IKDOModule; QueryInterface gives it IKDOWinampControl too. A creation
//     that fails unregisters what it registered and answers a failure.
//
//  4. Settings load: IKDOModule::LoadSettings ["IKDOModule.LoadSettings"].
//     Creation runs it once; the server may call it again. The twelve texts are
//     read from the store's section "Settings" and applied: the location to
//     the player link, the variables from the next poll
//     (instance/Settings.h).
//
//  5. The page: IKDOModule::ShowConfigurationPage and HideConfigurationPage
//     ["IKDOModule.ShowConfigurationPage", "IKDOModule.HideConfigurationPage"],
//     as often as the user opens and leaves it (ui/FPropertyPage.h). Show makes
//     the one page if there is none, fills its fields as it turns visible
//     ["the page's showing"], and only brings a visible one to the front; from
//     then until the hide the page holds a reference to the instance. Apply and
//     OK hand the texts to the instance at once ["a button of the page"], never
//     to the store; the close box only hides. Hide hides the page and frees it
//     (once a modal dialog of it has returned, below). A show for which Windows
//     refuses a window class or a window answers E_FAIL, and no page stays.
//
//  6. Script calls, at any time from creation to release. The server calls the
//     handler registered for each WAC_ function (TKDOFunctionHandler in
//     sdk/UKDOTypes.h) ["the script function handler"]; other modules call
//     IKDOWinampControl's operations ["IKDOWinampControl.<operation>"], which
//     run the same functions, and its GetSettings and SetSettings
//     (instance/Script.h and instance/ControlTable.h). Between the calls
//     the message loop brings the status ticks, four a second, which also move
//     the fade and the announcements, and the link's watch ["a timer's tick"],
//     and the players' answers ["a player's answer"].
//
//  7. Settings save: IKDOModule::SaveSettings ["IKDOModule.SaveSettings"],
//     when the server saves the configuration. The twelve texts go to the store.
//
//  8. Release: the server's last IInterface::Release of the instance. The
//     instance goes then, or when the page or a call still running lets go of
//     the last reference ["the instance's destruction"]: "Interface Destroy",
//     the page hidden, the script functions unregistered, the mirror stopped, a
//     bound player closed, the settings saved (step 7), the services released.
//
//  9. Unregistration: OnUnregister() ["OnUnregister"], before the server
//     unloads the library. It logs "Unregister", stops telling caught
//     exceptions and lets go of the module's kernel (an instance still there
//     keeps its own). A question a player has not answered yet keeps the
//     library loaded until the answer has come (platform/Platform.h,
//     AnswerQuestion).
//
// While a modal dialog of the page runs (the file dialog, or the variable
// picker, which borrows an instance of the server's selector module), the
// dialog's message loop runs on the server's thread, and every call of steps
// 4 to 8 may come into this instance before it returns: script calls and the
// interface's operations, loading and saving the settings, showing and hiding
// the page, the instance's release; ticks and answers go on. The page keeps
// itself until the dialog has returned, even when a hide let go of it and the
// instance has gone meanwhile, and then drops the dialog's answer if a hide came.
//
// Calls back. Server code that the module calls (a variable written, a log
// line, the event script that a write starts) may call into the module in turn,
// even release the instance: an entry that calls out holds a reference of its
// own until it returns.
#pragma once
