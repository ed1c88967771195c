// zr for .NET: P/Invoke declarations of every export of api/zr.h, and a thin Reader.
//
// One file, no dependencies: add it to a project, or build Zr.csproj (netstandard2.0), or
// compile it with Mono (mcs -target:library Zr.cs). The library is loaded by the name "zr":
// zr.dll on Windows (beside the program or on PATH), libzr.so on Linux (LD_LIBRARY_PATH or
// the system's library path).
//
// Types: int -> int, int* -> ref int, const char* -> string (ANSI), const unsigned char* ->
// byte[], unsigned char* (written by the library) -> [Out] byte[] of the size zr.h states.
// A const char* result is an IntPtr to static text: read it with Marshal.PtrToStringAnsi and
// never let the marshaller free it (hence IntPtr, not string).
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Runtime.InteropServices;
using System.Threading;

namespace Zr
{
    /// <summary>Every export of zr.h, declared as it is. Results are the library's codes.</summary>
    /// <remarks>StdCall is the 32-bit DLL's convention; on 64-bit Windows and on Linux there is
    /// one convention and StdCall means it. On 32-bit Windows ZRTestModeSet is exported only as
    /// _ZRTestModeSet@8, which the runtime's lookup of stdcall names finds.</remarks>
    public static class Native
    {
        public const string Lib = "zr";
        const CallingConvention Conv = CallingConvention.StdCall;

        // Result codes (zr.h); reader statuses map to 1001..4013.
        public const int ZR_OK = 1;
        public const int ZR_ERR_NO_SESSION = -1;
        public const int ZR_ERR_RANGE = -2;
        public const int ZR_ERR_ADDRESS = -3;
        public const int ZR_ERR_NO_REPLY = -4;
        public const int ZR_ERR_PARAMETER = -5;
        public const int ZR_ERR_SEND = -6;
        public const int ZR_ERR_STATUS_3A = -7;
        public const int ZR_ERR_REPORT_STATUS = -8;
        public const int ZR_ERR_MODEL = -9;
        public const int ZR_ERR_ALREADY_OPEN = -10;
        public const int ZR_ERR_CONFIG = -11;
        public const int ZR_ERR_CONNECT = -12;
        public const int ZR_ERR_OPEN_PORT = -13;
        public const int ZR_ERR_ARGUMENT = -14;
        public const int ZR_ERR_TOO_LONG = -15;
        public const int ZR_ERR_INTERNAL = -16;
        public const int ZR_ERR_UNKNOWN_STATUS = -20;
        public const int ZR_CLOSE_FAILED = 242;

        // Reply timings (ZRSetReplyTiming, ZRGetReplyTiming).
        public const int ZR_REPLY_TIMING_FIXED = 0;
        public const int ZR_REPLY_TIMING_WHOLE = 1;

        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZROpen(ref int handle, string path, string section);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRClose(ref int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRReconnect(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRLinkState(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetReplyTiming(int handle, int mode);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetReplyTiming(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRReset(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRIdentify(int handle, int antenna, int option);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRDirectRead(int handle, int antenna, int option);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRDirectReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRLongIdentify(int handle, int option1, int antenna, int option2);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRLongReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRUserIdentify(int handle, int option1, int antenna, int option2, int option3, int option4, int option5);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRUserReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRIdentifyEpcCode(int handle, int antenna, int option1, int option2);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZREpcCodeReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRIdentifyTIDCode(int handle, int antenna, int option1, int option2, byte[] password);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRTIDCodeReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetUseData(int handle, byte[] password, int address, int wordCount, int reserved);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetUseDataReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRListenReader(int handle, int reserved, [Out] byte[] lastSix, [Out] byte[] firstBlock, [Out] byte[] secondBlock);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRDataReturn(int handle, int antenna, int option);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRCodeSending(int handle, int length, int reserved, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRConfigEASflag(int handle, int antenna, byte[] password, int flag);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRStartEASAlarm(int handle, int antenna);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZREASAlarmReport(int handle, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZREndEASAlarm(int handle, int antenna);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRReadUserData(int handle, int antenna, int address, int byteCount, byte[] tagId, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRWriteUserData(int handle, int antenna, int address, byte[] tagId, byte[] data, int length);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetEpcCode(int handle, int antenna, byte[] password, int epcLength, int wordCount, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRReadUserDataEPC(int handle, byte[] password, int address, int wordCount, int antenna, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetUseData(int handle, int antenna, byte[] password, int address, int wordCount, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSelectTag(int handle, int antenna, int option1, int option2, byte[] matchData);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSelectTagEPC(int handle, int antenna, int option1, int option2, byte[] matchData, int length);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRLockUserData(int handle, int address, int antenna, byte[] tagId, int length);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetVisitPWD(int handle, int antenna, byte[] password, byte[] newPassword);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetDestroyPWD(int handle, int antenna, byte[] password, byte[] newPassword);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetDataLocked(int handle, int antenna, byte[] password, int mode, int region);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetDestroyTag(int handle, int antenna, byte[] password, int wordCount, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSysQuery(int handle, int address, int length, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSysSet(int handle, int address, int count, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSysFastSet(int handle, int address, int count, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRTagQuery(int handle, int address, int length, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRTagFastSet(int handle, int address, int count, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRFreqQuery(int handle, int address, int length, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetReadCfg(int handle, int readMode, int readOption);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRPowerOn(int handle, int value);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRPowerOff(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRPowerSet(int handle, int reserved, int count, int power0, int power1);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRPowerQuery(int handle, int reserved, int length, [Out] byte[] buffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRIOControlSet(int handle, int ioSelector, int ioValue);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRIOControlQuery(int handle, int ioSelector, int reserved);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRMACSet(int handle, int reserved, int count, byte[] data);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRNetAddrSet(int handle, int reserved, string section, string ipAddress, string subnetMask, string gateway);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetDeviceClass(int reserved, int modelCode);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetDeviceClass(int handle, ref int classValue);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRTestModeSet(int handle, int mode);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetInterfere(int handle, byte[] settings);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetInterfere(int handle, [Out] byte[] settings);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRCloseInterfere(int handle);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZREpcPrintPowerOs(int handle, int value);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetReaderState(int handle, int value, [Out] byte[] stateBuffer);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetReaderTime(int handle, int value, byte[] timeBytes);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetReaderfixNO(int handle, int fixedNumber);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRGetReaderfixNO(int handle, [Out] byte[] reserved);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern IntPtr ZRResultText(int code);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern IntPtr ZRLastCause();
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern int ZRSetTraceCallback(TraceCallback callback, IntPtr context);
        [DllImport(Lib, CallingConvention = Conv, CharSet = CharSet.Ansi)]
        public static extern IntPtr ZRVersion();

        /// <summary>Receives one line of the library's wire trace (ZRTraceCallback); called on the
        /// thread of the library call that moved the frame.</summary>
        [UnmanagedFunctionPointer(Conv, CharSet = CharSet.Ansi)]
        public delegate void TraceCallback(IntPtr context, string line);

        static TraceCallback traceKeeper;  // alive while the library may call it

        /// <summary>Hands every trace line to `sink` (null: no more) (ZRSetTraceCallback).</summary>
        public static void SetTrace(Action<string> sink)
        {
            TraceCallback callback = null;
            if (sink != null) callback = (context, line) => sink(line);
            // Refused (from inside a sink), the old callback stays registered: keep its delegate.
            ZrException.Check(ZRSetTraceCallback(callback, IntPtr.Zero), "ZRSetTraceCallback");
            traceKeeper = callback;  // the old one is no longer called once the library returned
        }

        /// <summary>The library's text for a result code (ZRResultText).</summary>
        public static string ResultText(int code)
        {
            return Marshal.PtrToStringAnsi(ZRResultText(code));
        }

        /// <summary>Why the last failed call on this thread failed (ZRLastCause): "" before any
        /// failure, or from a library that cannot tell. Read it right after the call.</summary>
        public static string LastCause()
        {
            try { return Marshal.PtrToStringAnsi(ZRLastCause()) ?? ""; }
            catch (EntryPointNotFoundException) { return ""; }
        }

        /// <summary>The loaded library's version, or null for a library without ZRVersion.</summary>
        public static string Version()
        {
            try { return Marshal.PtrToStringAnsi(ZRVersion()); }
            catch (EntryPointNotFoundException) { return null; }
        }
    }

    /// <summary>A zr call failed: the code it returned, the library's text for it and, where
    /// the library says more, why (ZRLastCause).</summary>
    public class ZrException : Exception
    {
        public int Code { get; private set; }
        public string Text { get; private set; }
        public string Function { get; private set; }
        /// <summary>The library's words for why ("connection refused by 192.0.2.10:7086"), or ""
        /// where it has none beyond <see cref="Text"/>.</summary>
        public string Cause { get; private set; }

        public ZrException(int code, string function)
            : this(code, function, Native.ResultText(code), "") { }

        ZrException(int code, string function, string text, string cause)
            : base(string.Format("{0}: {1} {2}", function, code, text) +
                   (cause == "" || cause == text ? "" : " (" + cause + ")"))
        {
            Code = code;
            Text = text;
            Function = function;
            Cause = cause == text ? "" : cause;
        }

        /// <summary>The reader did not answer an inventory: no frame at all within
        /// <paramref name="answerMs"/> of its start. Code -4; Cause the link's loss, when lost.</summary>
        internal static ZrException Silent(string function, int answerMs, string loss)
        {
            string why = string.Format("the reader did not answer the inventory: no report within {0} ms of the start",
                                       answerMs);
            return new ZrException(Native.ZR_ERR_NO_REPLY, function, Native.ResultText(Native.ZR_ERR_NO_REPLY),
                                   loss == "" ? why : why + "; " + loss);
        }

        /// <summary>Throws for any result but 1 (ok), right after the call that gave it, so
        /// that the cause is that call's.</summary>
        public static void Check(int result, string function)
        {
            if (result != Native.ZR_OK)
                throw new ZrException(result, function, Native.ResultText(result), Native.LastCause());
        }
    }

    /// <summary>Reader.Encode did not leave the tag as asked. <see cref="Refused"/>: nothing
    /// was written (the tag is not in the field, the selection does not hold, the new EPC is
    /// another tag's).</summary>
    public class EncodeException : Exception
    {
        public string Tag { get; private set; }
        public string Cause { get; private set; }
        public bool Refused { get; private set; }

        public EncodeException(string tag, string cause, bool refused, Exception inner = null)
            : base(string.Format("encode {0}: {1}: {2}", tag, refused ? "refused" : "failed", cause), inner)
        {
            Tag = tag;
            Cause = cause;
            Refused = refused;
        }
    }

    /// <summary>What Reader.Encode left on the tag, as read back.</summary>
    public sealed class Encoded
    {
        /// <summary>The EPC the tag answers with now.</summary>
        public byte[] Epc { get; internal set; }
        /// <summary>The EPC it answered with before.</summary>
        public byte[] PreviousEpc { get; internal set; }
        /// <summary>User memory read back, by word address.</summary>
        public IDictionary<int, byte[]> User { get; internal set; }
    }

    /// <summary>How a session's calls wait for their replies (Reader.ReplyTiming).</summary>
    public enum ReplyTiming
    {
        /// <summary>Every wait as each function documents it: the default.</summary>
        Fixed = Native.ZR_REPLY_TIMING_FIXED,
        /// <summary>Each wait is a deadline: a reply is returned as soon as it is whole.</summary>
        Whole = Native.ZR_REPLY_TIMING_WHOLE,
    }

    /// <summary>One session with one reader. Dispose closes it.</summary>
    /// <remarks>Calls on one Reader take turns (a lock per reader); different readers can be
    /// used from different threads at the same time.</remarks>
    public sealed class Reader : IDisposable
    {
        readonly object gate = new object();
        int handle = -1;

        Reader(int handle) { this.handle = handle; }

        /// <summary>Opens a session with the settings in <paramref name="section"/> of the INI
        /// file <paramref name="path"/> (ZROpen).</summary>
        public static Reader Open(string path, string section)
        {
            int h = -1;
            ZrException.Check(Native.ZROpen(ref h, path, section), "ZROpen");
            return new Reader(h);
        }

        /// <summary>The library's handle, for calls on Native; -1 once closed.</summary>
        public int Handle { get { lock (gate) return handle; } }
        public bool IsClosed { get { return Handle == -1; } }

        /// <summary>Closes the session (ZRClose); closing a closed reader does nothing.</summary>
        public void Close()
        {
            lock (gate)
            {
                if (handle == -1) return;
                ZrException.Check(Native.ZRClose(ref handle), "ZRClose");
            }
        }

        public void Dispose()
        {
            Close();
            GC.SuppressFinalize(this);
        }

        ~Reader()
        {
            if (handle != -1) Native.ZRClose(ref handle);
        }

        // Runs one library call on this reader's handle under its lock.
        int Call(string function, Func<int, int> call)
        {
            lock (gate)
            {
                if (handle == -1) throw new ZrException(Native.ZR_ERR_NO_SESSION, function);
                return call(handle);
            }
        }

        void Ok(string function, Func<int, int> call)
        {
            ZrException.Check(Call(function, call), function);
        }

        static byte[] Fixed(byte[] value, int size, string name, string function)
        {
            // The library reads exactly `size` bytes: a shorter array would be read past its end.
            if (value == null || value.Length != size)
                throw new ArgumentException(string.Format("{0}: {1} must be {2} bytes", function, name, size), name);
            return value;
        }

        /// <summary>Closes the session's link and opens it again with the same settings
        /// (ZRReconnect), for a reader that was away. On failure the reader stays open with its
        /// link lost, and Reconnect may be tried again.</summary>
        public void Reconnect() { Ok("ZRReconnect", h => Native.ZRReconnect(h)); }

        /// <summary>Whether the session's link is known lost (ZRLinkState): every call fails
        /// until Reconnect succeeds. Sends nothing.</summary>
        public bool LinkLost
        {
            get
            {
                int r = Call("ZRLinkState", h => Native.ZRLinkState(h));
                if (r < 0) throw new ZrException(r, "ZRLinkState");
                return r == 0;
            }
        }

        /// <summary>How this session's calls wait for their replies (ZRGetReplyTiming,
        /// ZRSetReplyTiming): Fixed unless the section's ZR_REPLY_TIMING says whole. Sends
        /// nothing; the session keeps it across Reconnect. A value outside the enum is refused
        /// by the library (ZrException -14) and changes nothing.</summary>
        public ReplyTiming ReplyTiming
        {
            get
            {
                int r = Call("ZRGetReplyTiming", h => Native.ZRGetReplyTiming(h));
                if (r < 0) throw new ZrException(r, "ZRGetReplyTiming");
                return (ReplyTiming)r;
            }
            set { Ok("ZRSetReplyTiming", h => Native.ZRSetReplyTiming(h, (int)value)); }
        }

        /// <summary>Resets the reader (ZRReset).</summary>
        public void Reset() { Ok("ZRReset", h => Native.ZRReset(h)); }

        /// <summary>The reader's "no tag" status as the report functions give it: 0x61 in device
        /// class 3 (3002), 0x91 in classes 1 and 2 (4002). For an inventory it means an empty
        /// field, not a failure.</summary>
        public static readonly int[] NoTagStatuses = { 3002, 4002 };

        /// <summary>Runs an EPC inventory and yields each tag's EPC until the reader has sent
        /// nothing for <paramref name="quietMs"/> milliseconds, sleeping <paramref name="pollMs"/>
        /// between empty polls (ZRIdentifyEpcCode, ZREpcCodeReport). An empty field is no error:
        /// the reader's "no tag" status ends it having yielded nothing. A reader that sends no
        /// frame at all within <paramref name="answerMs"/> of the start throws a ZrException
        /// (-4, its Cause the lost link when the link is lost); any other reader status in a
        /// report throws too.</summary>
        public IEnumerable<byte[]> Inventory(int antenna = 1, int option1 = 0, int option2 = 0,
                                             int quietMs = 300, int pollMs = 10, int answerMs = 1000)
        {
            int sent = Call("ZRIdentifyEpcCode", h => Native.ZRIdentifyEpcCode(h, antenna, option1, option2));
            if (sent <= 0) throw new ZrException(sent, "ZRIdentifyEpcCode");
            var started = Stopwatch.StartNew();
            var quiet = Stopwatch.StartNew();
            bool answered = false;
            while (true)
            {
                var buffer = new byte[256];  // 254 bytes over serial, 98 over TCP
                int r = Call("ZREpcCodeReport", h => Native.ZREpcCodeReport(h, buffer));
                if (r == Native.ZR_OK)
                {
                    int len = buffer[0] * 256 + buffer[1];  // LEN, 0x81, status, EPC
                    var epc = new byte[Math.Max(0, Math.Min(len, 252) - 2)];
                    Array.Copy(buffer, 4, epc, 0, epc.Length);
                    answered = true;
                    quiet.Restart();
                    yield return epc;
                }
                else if (Array.IndexOf(NoTagStatuses, r) >= 0) yield break;
                else if (r != 0) ZrException.Check(r, "ZREpcCodeReport");
                else if (answered && quiet.ElapsedMilliseconds >= quietMs) yield break;
                else if (!answered && (started.ElapsedMilliseconds >= answerMs || LinkLost))
                    throw ZrException.Silent("ZREpcCodeReport", answerMs, LinkLost ? Native.LastCause() : "");
                else Thread.Sleep(pollMs);
            }
        }

        /// <summary>The regions Encode's <c>lockRegions</c> names, by their ZRSetDataLocked number.</summary>
        public static readonly string[] LockRegions = { "visit-password", "destroy-password", "epc", "tid", "user", "all" };

        /// <summary>Writes a new EPC and/or user memory to one chosen tag and only to it, as
        /// <c>zrtool encode</c> does: selects it (<paramref name="byEpc"/>: its EPC or a prefix
        /// only it has; <paramref name="byId"/>: its 8-byte identifier; the reader cannot select
        /// by TID), checks that exactly that tag answers under the selection, writes
        /// <paramref name="user"/> (word address -> whole words) then <paramref name="epc"/>,
        /// reads both back and compares, locks <paramref name="lockRegions"/> (names of
        /// LockRegions), and cancels the selection again. Throws EncodeException with the
        /// cause (its InnerException the ZrException of a call that failed).</summary>
        public Encoded Encode(byte[] byEpc = null, byte[] byId = null, byte[] epc = null,
                              IDictionary<int, byte[]> user = null, byte[] password = null,
                              string[] lockRegions = null, int antenna = 1)
        {
            if ((byEpc == null) == (byId == null)) throw new ArgumentException("Encode: give one of byEpc and byId");
            if (byId != null) Fixed(byId, 8, "byId", "ZRSelectTag");
            password = Fixed(password ?? new byte[4], 4, "password", "ZRSetUseData");
            user = user ?? new Dictionary<int, byte[]>();
            foreach (var u in user)
                if (u.Value == null || u.Value.Length == 0 || u.Value.Length % 2 != 0)
                    throw new ArgumentException("Encode: user data must be whole 16-bit words", "user");
            if (epc != null && (epc.Length < 2 || epc.Length > 12 || epc.Length % 2 != 0))
                throw new ArgumentException("Encode: the new EPC must be 2 to 12 bytes, whole words", "epc");
            if (epc == null && user.Count == 0) throw new ArgumentException("Encode: nothing to write");
            var regions = new List<int>();
            foreach (var r in lockRegions ?? new string[0])
            {
                int n = Array.IndexOf(LockRegions, r);
                if (n < 0) throw new ArgumentException("Encode: no lock region " + r, "lockRegions");
                regions.Add(n);
            }
            byte[] match = byEpc ?? byId;
            string tag = (byId == null ? "EPC " : "identifier ") + Hex(match);

            Func<bool, string, Func<int>, int> step = (refused, what, call) =>
            {
                int r;
                try { r = call(); }
                catch (ZrException e) { throw new EncodeException(tag, what + ": " + e.Message, refused, e); }
                return r;
            };
            Action<bool, string, string, Func<int, int>> ok = (refused, what, function, call) =>
                step(refused, what, () => { Ok(function, call); return 0; });
            Action<bool, string, byte[]> select = (refused, what, m) =>
            {
                if (byId == null)
                    ok(refused, what, "ZRSelectTagEPC", h => Native.ZRSelectTagEPC(h, antenna, 1, 0, m, m.Length));
                else
                    ok(refused, what, "ZRSelectTag", h => Native.ZRSelectTag(h, antenna, 1, 0, m));
            };
            Func<bool, string, List<byte[]>> answering = (refused, what) =>
            {
                var seen = new List<byte[]>();
                step(refused, what, () => { foreach (var e in Inventory(antenna, 0, 0, 150)) seen.Add(e); return 0; });
                return seen;
            };
            var none = new byte[1];
            Action cancel = () => Ok("ZRSelectTagEPC", h => Native.ZRSelectTagEPC(h, antenna, 0, 0, none, 0));

            step(true, "cancelling the selection", () => { cancel(); return 0; });
            var field = answering(true, "the inventory of the field");
            if (byId == null)
            {
                int n = field.FindAll(e => StartsWith(e, match)).Count;
                if (n == 0)
                    throw new EncodeException(tag, string.Format("no tag with EPC {0} in the field ({1} tags answered)",
                                                                 Hex(match), field.Count), true);
                if (n > 1)
                    throw new EncodeException(tag, string.Format("{0} tags in the field have an EPC that begins with {1}",
                                                                 n, Hex(match)), true);
            }
            select(true, "the tag is not in the field: the reader refused the selection", match);
            try
            {
                var seen = answering(true, "checking the selection");
                if (seen.Count != 1 || (byId == null && !StartsWith(seen[0], match)))
                    throw new EncodeException(tag, string.Format("the selection does not hold: {0} tags answer under it",
                                                                 seen.Count), true);
                byte[] current = seen[0];
                var others = new List<byte[]>(field);
                int at = others.FindIndex(e => Same(e, current));
                if (at >= 0) others.RemoveAt(at);
                if (epc != null && !Same(epc, current))
                    foreach (var e in others)
                        if (StartsWith(e, epc))
                            throw new EncodeException(tag, "another tag in the field already has EPC " + Hex(e), true);

                foreach (var u in user)
                    ok(false, "writing user memory at word " + u.Key, "ZRSetUseData",
                       h => Native.ZRSetUseData(h, antenna, password, u.Key, u.Value.Length / 2, u.Value));
                byte[] expected = current;
                if (epc != null)
                {
                    int r = step(false, "writing the EPC",
                                 () => Call("ZRSetEpcCode", h => Native.ZRSetEpcCode(h, antenna, password, epc.Length, epc.Length / 2, epc)));
                    if (r != Native.ZR_OK)
                        throw new EncodeException(tag, "writing the EPC: " + new ZrException(r, "ZRSetEpcCode").Message, false);
                    expected = epc;
                    if (byId == null) select(false, "read-back: no tag answers with the new EPC", epc);
                }
                seen = answering(false, "read-back");
                if (seen.Count != 1 || !Same(seen[0], expected))
                    throw new EncodeException(tag, string.Format("read-back: expected EPC {0}, the reader saw {1}", Hex(expected),
                                                                 seen.Count == 0 ? "no tag" : string.Join(" ", seen.ConvertAll(Hex))), false);
                var read = new Dictionary<int, byte[]>();
                foreach (var u in user)
                {
                    var buffer = new byte[u.Value.Length + 5];
                    ok(false, "read-back of user memory at word " + u.Key, "ZRReadUserDataEPC",
                       h => Native.ZRReadUserDataEPC(h, password, u.Key, u.Value.Length / 2, antenna, buffer));
                    var back = new byte[u.Value.Length];
                    Array.Copy(buffer, 5, back, 0, back.Length);
                    if (!Same(back, u.Value))
                        throw new EncodeException(tag, string.Format("read-back of user memory at word {0}: wrote {1}, read {2}",
                                                                     u.Key, Hex(u.Value), Hex(back)), false);
                    read[u.Key] = back;
                }
                foreach (int region in regions)
                    ok(false, "locking " + LockRegions[region], "ZRSetDataLocked",
                       h => Native.ZRSetDataLocked(h, antenna, password, 1, region));
                return new Encoded { Epc = expected, PreviousEpc = current, User = read };
            }
            finally
            {
                // The whole field answers again, whatever happened under the selection.
                try { cancel(); } catch (ZrException) { }
            }
        }

        static string Hex(byte[] b) { return BitConverter.ToString(b).Replace("-", ""); }
        static bool Same(byte[] a, byte[] b) { return a.Length == b.Length && StartsWith(a, b); }
        static bool StartsWith(byte[] whole, byte[] part)
        {
            if (part.Length > whole.Length) return false;
            for (int i = 0; i < part.Length; ++i)
                if (whole[i] != part[i]) return false;
            return true;
        }

        /// <summary>Reads <paramref name="count"/> bytes from <paramref name="address"/> of the
        /// tag with the 8-byte <paramref name="tagId"/> (ZRReadUserData).</summary>
        public byte[] ReadUserData(byte[] tagId, int address, int count, int antenna = 1)
        {
            Fixed(tagId, 8, "tagId", "ZRReadUserData");
            var buffer = new byte[Math.Max(count, 1)];
            Ok("ZRReadUserData", h => Native.ZRReadUserData(h, antenna, address, count, tagId, buffer));
            Array.Resize(ref buffer, count);
            return buffer;
        }

        /// <summary>Writes <paramref name="data"/> at <paramref name="address"/> of the tag with
        /// the 8-byte <paramref name="tagId"/> (ZRWriteUserData).</summary>
        public void WriteUserData(byte[] tagId, int address, byte[] data, int antenna = 1)
        {
            Fixed(tagId, 8, "tagId", "ZRWriteUserData");
            if (data == null) throw new ArgumentNullException("data");
            Ok("ZRWriteUserData", h => Native.ZRWriteUserData(h, antenna, address, tagId, data, data.Length));
        }

        /// <summary>Reads <paramref name="count"/> (0-52) bytes of the system area (ZRSysQuery).</summary>
        public byte[] SysQuery(int address, int count)
        {
            var buffer = new byte[Math.Max(count, 1)];
            Ok("ZRSysQuery", h => Native.ZRSysQuery(h, address, count, buffer));
            Array.Resize(ref buffer, Math.Max(count, 0));
            return buffer;
        }

        /// <summary>Writes up to 52 bytes of the system area in one frame (ZRSysFastSet).</summary>
        public void SysFastSet(int address, byte[] data)
        {
            if (data == null) throw new ArgumentNullException("data");
            Ok("ZRSysFastSet", h => Native.ZRSysFastSet(h, address, data.Length, data));
        }

        /// <summary>Reads the power bytes (ZRPowerQuery).</summary>
        public byte[] PowerQuery(int count = 2)
        {
            var buffer = new byte[Math.Max(count, 1)];
            Ok("ZRPowerQuery", h => Native.ZRPowerQuery(h, 0, count, buffer));
            Array.Resize(ref buffer, Math.Max(count, 0));
            return buffer;
        }

        /// <summary>Switches the RF power on (ZRPowerOn).</summary>
        public void PowerOn(int value = 0) { Ok("ZRPowerOn", h => Native.ZRPowerOn(h, value)); }

        /// <summary>Switches the RF power off (ZRPowerOff).</summary>
        public void PowerOff() { Ok("ZRPowerOff", h => Native.ZRPowerOff(h)); }

        /// <summary>The reader's six state bytes (ZRGetReaderState).</summary>
        public byte[] ReaderState(int value = 0)
        {
            var buffer = new byte[6];
            Ok("ZRGetReaderState", h => Native.ZRGetReaderState(h, value, buffer));
            return buffer;
        }
    }
}
