// Resets a reader, runs an EPC inventory and reads the first tag's user memory.
// usage: Inventory READER.INI SECTION
using System;
using Zr;

static class Inventory
{
    static int Main(string[] args)
    {
        if (args.Length != 2) { Console.Error.WriteLine("usage: Inventory READER.INI SECTION"); return 2; }
        try
        {
            using (var reader = Reader.Open(args[0], args[1]))
            {
                reader.Reset();
                Console.WriteLine("power bytes: " + BitConverter.ToString(reader.PowerQuery(2)));
                foreach (var epc in reader.Inventory(antenna: 1, quietMs: 300))
                    Console.WriteLine("EPC " + BitConverter.ToString(epc));
                var tag = new byte[] { 0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x01 };
                Console.WriteLine("user bytes 0-3: " + BitConverter.ToString(reader.ReadUserData(tag, 0, 4)));
            }
        }
        catch (ZrException e)
        {
            Console.Error.WriteLine("failed: {0} returned {1} ({2})", e.Function, e.Code, e.Text);
            return 1;
        }
        return 0;
    }
}
