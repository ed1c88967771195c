// Resets a reader, runs an EPC inventory and, when tags answered, reads the first tag's user
// memory.
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
                // An empty field is 0 tags; a reader that does not answer throws.
                int tags = 0;
                foreach (var epc in reader.Inventory(antenna: 1, quietMs: 300))
                {
                    Console.WriteLine("EPC " + BitConverter.ToString(epc));
                    ++tags;
                }
                Console.WriteLine("{0} tag(s)", tags);
                if (tags > 0)
                {
                    var tag = new byte[] { 0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x01 };
                    Console.WriteLine("user bytes 0-3: " + BitConverter.ToString(reader.ReadUserData(tag, 0, 4)));
                }
            }
        }
        catch (ZrException e)
        {
            Console.Error.WriteLine("failed: " + e.Message);  // the function, the result, its text and the cause
            return 1;
        }
        return 0;
    }
}
