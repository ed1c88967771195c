// The .NET binding's tests: declarations against zr.h, marshalling, exceptions and lifetime,
// against a zrsim process over loopback TCP and its pseudo-terminal.
// usage: mono ZrTests.exe BUILD_DIR REPO_DIR   (libzr.so found through LD_LIBRARY_PATH)
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Text.RegularExpressions;
using System.Threading;
using Zr;

static class ZrTests
{
    static int passed, failed, faults;  // tests passed and failed; failed checks in the current test
    static string ini;
    static readonly byte[] TagId = { 0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x01 };  // zrsim's first tag

    static void Expect(bool ok, string what)
    {
        if (ok) return;
        faults++;
        Console.WriteLine("FAILED: " + what);
    }

    static void Run(string name, Action test)
    {
        faults = 0;
        try { test(); }
        catch (Exception e) { faults++; Console.WriteLine("FAILED: " + name + ": " + e); }
        if (faults == 0) passed++; else failed++;
    }

    static ZrException Throws(Action call)
    {
        try { call(); }
        catch (ZrException e) { return e; }
        return null;
    }

    // How each C type of zr.h is declared.
    static string CSharpType(string c, bool result)
    {
        switch (c)
        {
            case "int": return "Int32";
            case "int*": return "Int32&";
            case "const char*": return result ? "IntPtr" : "String";
            case "const unsigned char*": return "Byte[]";
            case "unsigned char*": return "[Out] Byte[]";
            case "ZRTraceCallback": return "TraceCallback";
            case "void*": return "IntPtr";
        }
        throw new ArgumentException("no mapping for " + c);
    }

    static void DeclarationsMatchTheHeader(string header)
    {
        var text = Regex.Replace(File.ReadAllText(header), @"/\*.*?\*/", "", RegexOptions.Singleline);
        var expected = new Dictionary<string, string>();
        foreach (Match m in Regex.Matches(text, @"^ZR_API\s+([^;]+?)\s*ZR_CALL\s+(\w+)\s*\(([^)]*)\)\s*;", RegexOptions.Multiline))
        {
            var args = m.Groups[3].Value.Trim();
            var types = args == "" || args == "void" ? new string[0] : args.Split(',').Select(a =>
                CSharpType(Regex.Replace(Regex.Replace(Regex.Replace(a.Trim(), @"\s+", " "), @"\s*\w+$", ""), @"\s*\*", "*"), false));
            expected[m.Groups[2].Value] = CSharpType(m.Groups[1].Value.Trim(), true) + "(" + string.Join(", ", types) + ")";
        }
        var declared = new Dictionary<string, string>();
        foreach (var mi in typeof(Native).GetMethods(BindingFlags.Public | BindingFlags.Static))
        {
            var import = mi.GetCustomAttributes(typeof(DllImportAttribute), false);
            if (import.Length == 0) continue;
            var d = (DllImportAttribute)import[0];
            Expect(d.CallingConvention == CallingConvention.StdCall && d.CharSet == CharSet.Ansi, mi.Name + ": StdCall, Ansi");
            declared[mi.Name] = mi.ReturnType.Name + "(" + string.Join(", ", mi.GetParameters().Select(p =>
                (p.IsOut && !p.ParameterType.IsByRef ? "[Out] " : "") + p.ParameterType.Name)) + ")";
        }
        Expect(expected.Count >= 63, "the header has every export: " + expected.Count);
        // An optional export (newer than the first release) may be declared before the header has it.
        var optional = new[] { "ZRVersion", "ZRReconnect", "ZRLinkState", "ZRLastCause", "ZRSetTraceCallback" };
        foreach (var name in expected.Keys.Union(declared.Keys.Except(optional)))
        {
            string e, d;
            expected.TryGetValue(name, out e);
            declared.TryGetValue(name, out d);
            Expect(e == d, name + ": header " + (e ?? "none") + ", declared " + (d ?? "none"));
        }
    }

    // The result codes of zr.h: the block of #defines that follows "Result codes", up to the first blank line.
    static void ResultCodesMatchTheHeader(string header)
    {
        var text = File.ReadAllText(header).Replace("\r\n", "\n");
        var block = text.Substring(text.IndexOf("Result codes"));
        block = block.Substring(0, block.IndexOf("\n\n"));
        var expected = new Dictionary<string, int>();
        foreach (Match m in Regex.Matches(block, @"^#define (ZR_\w+) \(?(-?\d+)\)?", RegexOptions.Multiline))
            expected[m.Groups[1].Value] = int.Parse(m.Groups[2].Value);
        Expect(expected.Count >= 19 && expected["ZR_OK"] == 1, "the header's result codes: " + expected.Count);
        var declared = typeof(Native).GetFields(BindingFlags.Public | BindingFlags.Static)
            .Where(f => f.IsLiteral && f.FieldType == typeof(int) && f.Name.StartsWith("ZR_") && !f.Name.StartsWith("ZR_REPLY_TIMING_"))
            .ToDictionary(f => f.Name, f => (int)f.GetRawConstantValue());
        foreach (var name in expected.Keys.Union(declared.Keys))
        {
            int e, d;
            bool inHeader = expected.TryGetValue(name, out e), isDeclared = declared.TryGetValue(name, out d);
            Expect(inHeader && isDeclared && e == d, name + ": header " + (inHeader ? e.ToString() : "none") +
                                                     ", declared " + (isDeclared ? d.ToString() : "none"));
            if (inHeader) Expect(Native.ResultText(e) != "unknown result code", name + ": the library has a text for it");
        }
    }

    static void TraceReachesDotNet()
    {
        var lines = new List<string>();
        var r = Reader.Open(ini, "tcp");
        Native.SetTrace(line => { lock (lines) lines.Add(line); });
        r.Reset();
        Native.SetTrace(null);
        r.Reset();  // no longer traced
        r.Dispose();
        Expect(lines.Count == 2 && lines[0].EndsWith("| RESET/TEST_MODE | sent"), "trace: " + string.Join(" / ", lines));
    }

    static void OpenCallClose(string section)
    {
        var r = Reader.Open(ini, section);
        Expect(r.Handle != -1 && r.Handle != 0, section + ": a handle");
        r.Reset();
        Expect(r.ReaderState().Length == 6, section + ": six state bytes");
        r.Dispose();
        Expect(r.IsClosed, section + ": closed");
        r.Close();  // a second close does nothing
        var e = Throws(() => r.Reset());
        Expect(e != null && e.Code == -1 && e.Text == Native.ResultText(-1), section + ": a call after close: -1");
    }

    // An empty field (a zrsim without tags) is no tags and no exception; a reader that never
    // answers (a listener that accepts and stays silent) throws, saying so.
    static void InventoryOfAnEmptyFieldAndOfASilentReader(string quietIni)
    {
        foreach (var section in new[] { "empty_tcp", "empty_serial" })
            using (var r = Reader.Open(quietIni, section))
            {
                var epcs = r.Inventory(quietMs: 300).ToList();
                Expect(epcs.Count == 0, section + ": no tags, got " + epcs.Count);
            }
        using (var r = Reader.Open(quietIni, "silent_tcp"))
        {
            var e = Throws(() => r.Inventory(quietMs: 300, answerMs: 1000).ToList());
            Expect(e != null && e.Code == -4 && e.Function == "ZREpcCodeReport" &&
                   e.Message.Contains("did not answer the inventory"),
                   "silent_tcp: a reader that never answers throws, got " + (e == null ? "none" : e.Message));
        }
    }

    static void Inventory(string section)
    {
        using (var r = Reader.Open(ini, section))
        {
            var epcs = r.Inventory(antenna: 1, quietMs: 300).ToList();
            Expect(epcs.Count == 3 && epcs.Select(x => BitConverter.ToString(x)).Distinct().Count() == 3,
                   section + ": three tags, got " + epcs.Count);
            Expect(epcs.All(x => x.Length >= 2), section + ": each EPC has bytes");
        }
    }

    static void WriteReadBack(string section)
    {
        using (var r = Reader.Open(ini, section))
        {
            var data = new byte[] { (byte)r.Handle, 0xCA, 0xFE, 0x43 };
            r.WriteUserData(TagId, 44, data);
            Expect(r.ReadUserData(TagId, 44, 4).SequenceEqual(data), section + ": the bytes written are read back");
        }
    }

    static void EncodeWritesOneTagAndReadsItBack(string section)
    {
        using (var r = Reader.Open(ini, section))
        {
            byte[] old = { 0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, 0x02 };
            var fresh = (byte[])old.Clone();
            fresh[11] = 0xC2;
            var data = new byte[] { 0xC0, 0xFF, 0xEE, 0x02 };
            var before = r.Inventory(quietMs: 200).Select(Convert.ToBase64String).ToList();
            var done = r.Encode(byEpc: old, epc: fresh, user: new Dictionary<int, byte[]> { { 12, data } });
            Expect(done.Epc.SequenceEqual(fresh) && done.PreviousEpc.SequenceEqual(old) && done.User[12].SequenceEqual(data),
                   section + ": Encode returns what it read back");
            var after = r.Inventory(quietMs: 200).Select(Convert.ToBase64String).ToList();
            before.Remove(Convert.ToBase64String(old));
            before.Add(Convert.ToBase64String(fresh));
            Expect(after.OrderBy(x => x).SequenceEqual(before.OrderBy(x => x)), section + ": only the chosen tag changed");
            EncodeException refused = null;
            try { r.Encode(byEpc: old, epc: fresh); } catch (EncodeException e) { refused = e; }
            Expect(refused != null && refused.Refused && refused.Message.Contains("no tag with EPC"),
                   section + ": a tag not in the field is refused");
            r.Encode(byEpc: fresh, epc: old);  // as the other tests expect the field
        }
    }

    static void ReplyTimingFixedUntilSetWhole(string section)
    {
        using (var r = Reader.Open(ini, section))
        {
            Expect(r.ReplyTiming == ReplyTiming.Fixed, section + ": fixed by default");
            r.ReplyTiming = ReplyTiming.Whole;
            Expect(r.ReplyTiming == ReplyTiming.Whole, section + ": whole once set");
            r.Reset();
            var e = Throws(() => r.ReplyTiming = (ReplyTiming)7);
            Expect(e != null && e.Code == Native.ZR_ERR_ARGUMENT, section + ": mode 7 refused with -14");
            Expect(r.ReplyTiming == ReplyTiming.Whole, section + ": still whole after the refusal");
        }
    }

    static void FailuresCarryCodeAndText()
    {
        var cases = new List<KeyValuePair<int, Action>>
        {
            new KeyValuePair<int, Action>(-15, () => { using (var r = Reader.Open(ini, "tcp")) r.SysQuery(0, 53); }),
            new KeyValuePair<int, Action>(0, () => Reader.Open(ini, "usb")),
            new KeyValuePair<int, Action>(-12, () => Reader.Open(ini, "absent")),
        };
        foreach (var c in cases)
        {
            var e = Throws(c.Value);
            Expect(e != null && e.Code == c.Key, "code " + c.Key + ", got " + (e == null ? "no exception" : e.Code.ToString()));
            if (e == null) continue;
            Expect(e.Text == Native.ResultText(c.Key) && e.Text != "unknown result code", "text of " + c.Key + ": " + e.Text);
            Expect(e.Message.Contains(e.Text) && e.Message.Contains(c.Key.ToString()), "message of " + c.Key + ": " + e.Message);
        }
        bool refused = false;
        using (var r = Reader.Open(ini, "tcp"))
        {
            try { r.ReadUserData(new byte[7], 0, 2); }
            catch (ArgumentException) { refused = true; }
        }
        Expect(refused, "a short tag id is refused before the call");
    }

    static void TwoReadersInParallel()
    {
        // zrsim answers a power-off late, so it lasts about half a second; a reset on the
        // other reader started meanwhile must end first unless the calls are serialised.
        var finished = new List<string>();
        var started = new ManualResetEvent(false);
        using (var slow = Reader.Open(ini, "tcp"))
        using (var fast = Reader.Open(ini, "tcp2"))
        {
            var a = new Thread(() => { started.Set(); slow.PowerOff(); lock (finished) finished.Add("slow"); });
            var b = new Thread(() => { started.WaitOne(); Thread.Sleep(100); fast.Reset(); lock (finished) finished.Add("fast"); });
            a.Start(); b.Start(); a.Join(); b.Join();
        }
        Expect(string.Join(",", finished) == "fast,slow", "the fast call ended first: " + string.Join(",", finished));
    }

    static void CauseAndReconnect()
    {
        var e = Throws(() => Reader.Open(ini, "absent"));
        Expect(e != null && e.Code == -12 && e.Cause.StartsWith("connection refused by "), "absent: refused, " +
               (e == null ? "no exception" : e.Cause));
        using (var r = Reader.Open(ini, "tcp"))
        {
            Expect(!r.LinkLost, "tcp: link up");
            r.Reconnect();
            Expect(!r.LinkLost, "tcp: link up after reconnecting");
            r.Reset();
        }
    }

    static void UsingClosesOnException(string section)
    {
        Reader kept = null;
        try
        {
            using (var r = Reader.Open(ini, section))
            {
                kept = r;
                throw new InvalidOperationException("in the block");
            }
        }
        catch (InvalidOperationException) { }
        Expect(kept != null && kept.IsClosed, section + ": closed by using");
        using (var again = Reader.Open(ini, section)) again.Reset();  // the port was released
    }

    // zrsim with `arguments`, once it listens; `pty` its pseudo-terminal (null when it named none).
    static Process StartSim(string build, string arguments, out string pty)
    {
        var psi = new ProcessStartInfo(Path.Combine(build, "zrsim"), arguments)
        { UseShellExecute = false, RedirectStandardOutput = true };
        var sim = Process.Start(psi);
        pty = null;
        for (int i = 0; i < 3 && pty == null; i++)
        {
            var line = sim.StandardOutput.ReadLine() ?? "";
            if (line.StartsWith("zrsim: serial ")) pty = line.Substring(14).Trim();
        }
        return sim;
    }

    static int Main(string[] args)
    {
        if (args.Length != 2) { Console.WriteLine("usage: ZrTests.exe BUILD_DIR REPO_DIR"); return 2; }
        string build = args[0], repo = args[1];
        string baseAddress = "127.89." + (Process.GetCurrentProcess().Id % 250 + 1);
        string pty, emptyPty;
        var sim = StartSim(build, "--fault 0x61:delay=400 --tcp " + baseAddress + ".1 --tcp " + baseAddress + ".2",
                           out pty);
        string emptyTags = Path.Combine(Path.GetTempPath(), "zr-dotnet-" + Process.GetCurrentProcess().Id + ".tags");
        File.WriteAllText(emptyTags, "");
        var emptySim = StartSim(build, "--tags " + emptyTags + " --tcp " + baseAddress + ".5", out emptyPty);
        var silent = new System.Net.Sockets.TcpListener(System.Net.IPAddress.Parse(baseAddress + ".4"), 7086);
        silent.Start();
        string quietIni =
            Path.Combine(Path.GetTempPath(), "zr-dotnet-quiet-" + Process.GetCurrentProcess().Id + ".ini");
        try
        {
            if (pty == null || emptyPty == null) { Console.WriteLine("zrsim printed no pseudo-terminal"); return 1; }
            File.WriteAllText(quietIni,
                "[empty_tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + baseAddress + ".5\n\n" +
                "[empty_serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + emptyPty + "\nZR_HOST_NAME=127.0.0.1\n\n" +
                "[silent_tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + baseAddress + ".4\n");
            ini = Path.Combine(Path.GetTempPath(), "zr-dotnet-" + Process.GetCurrentProcess().Id + ".ini");
            File.WriteAllText(ini,
                "[tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + baseAddress + ".1\n\n" +
                "[tcp2]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + baseAddress + ".2\n\n" +
                "[serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + pty + "\nZR_HOST_NAME=127.0.0.1\n\n" +
                "[absent]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + baseAddress + ".3\n\n" +
                "[usb]\nZR_PORT_TYPE=USB\nZR_COM_NUMBER=x\nZR_HOST_NAME=x\n");

            Run("declarations", () => DeclarationsMatchTheHeader(Path.Combine(repo, "api", "zr.h")));
            Run("result codes", () => ResultCodesMatchTheHeader(Path.Combine(repo, "api", "zr.h")));
            foreach (var section in new[] { "tcp", "serial" })
            {
                Run("open/close " + section, () => OpenCallClose(section));
                Run("inventory " + section, () => Inventory(section));
                Run("write/read " + section, () => WriteReadBack(section));
                Run("using " + section, () => UsingClosesOnException(section));
                Run("reply timing " + section, () => ReplyTimingFixedUntilSetWhole(section));
                Run("encode " + section, () => EncodeWritesOneTagAndReadsItBack(section));
            }
            Run("inventory: empty field, silent reader", () => InventoryOfAnEmptyFieldAndOfASilentReader(quietIni));
            Run("failures", FailuresCarryCodeAndText);
            Run("cause and reconnect", CauseAndReconnect);
            Run("wire trace", TraceReachesDotNet);
            Run("parallel", TwoReadersInParallel);
        }
        finally
        {
            foreach (var p in new[] { sim, emptySim })
            {
                p.Kill();
                p.WaitForExit();
            }
            silent.Stop();
            if (ini != null) File.Delete(ini);
            File.Delete(quietIni);
            File.Delete(emptyTags);
        }
        Console.WriteLine("library " + (Native.Version() ?? "unknown") + ", " + IntPtr.Size * 8 + "-bit");
        Console.WriteLine("{0} passed, {1} failed", passed, failed);
        return failed == 0 ? 0 : 1;
    }
}
