// Quorvex.Library.cs - finding the native library before the first call, and saying where it was looked for
// when it is missing.
using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Xml;

namespace Quorvex
{
    /// <summary>The native Quorvex library could not be loaded.  Derives from DllNotFoundException, so that hosts
    /// that catch that still do; its message names the file and the places it was looked for.</summary>
    public sealed class QuorvexLibraryNotFoundException : DllNotFoundException
    {
        /// <summary>The file the runtime looked for: Quorvex.dll, libquorvex.so or libquorvex.so.0.</summary>
        public string FileName { get; }
        /// <summary>The folders looked in, in order: on Windows the program's own and no other; elsewhere before
        /// the system's library path.</summary>
        public IList<string> Searched { get; }

        internal QuorvexLibraryNotFoundException(string fileName, IList<string> searched, Exception inner)
            : base("the native Quorvex library " + fileName + " could not be loaded; looked in "
                + string.Join(", ", searched) + ". " + Advice(fileName) + " (" + inner.Message + ")", inner)
        {
            FileName = fileName;
            Searched = searched;
        }

        static string Advice(string fileName) =>
            fileName == Library.WindowsFile
                ? "Put the DLL of the program's width (x86 or x64) beside the program or in its x86/x64 folder."
                : "Install the library, or name its folder in LD_LIBRARY_PATH.";
    }

    /// <summary>Loads the native library once, before the first call through <see cref="Client"/> or a
    /// <see cref="Session"/>.  On Windows it loads Quorvex.dll of the process's width by its absolute path, from
    /// the program's own folder alone: its x86/ or x64/ folder (where the package's build targets copy both for
    /// AnyCPU projects), its runtimes/win-x86|win-x64/native/ folder, or the folder itself, so that the imports
    /// find it already loaded; never from a folder above the program's, the current directory or PATH, where
    /// another user could plant a DLL of that name.  Elsewhere the runtime loads it: from the assembly's folder,
    /// then by the system's library path.  On .NET (Core), whose imports know no dllmap, libquorvex.so.0 is
    /// found by a resolver: in runtimes/linux-x64/native/ beside the assembly (a build's output) or in the
    /// package that holds it (lib/net46/ two folders below), beside the assembly, then by the system's library
    /// path.</summary>
    public static class Library
    {
        internal const string WindowsFile = "Quorvex.dll";
        static readonly object gate = new object();
        static volatile bool loaded;

        static bool IsWindows => Environment.OSVersion.Platform == PlatformID.Win32NT;
        static string Width => IntPtr.Size == 8 ? "x64" : "x86";
        static string AssemblyFolder => Path.GetDirectoryName(typeof(Library).Assembly.Location) ?? "";

        // The DLL's own imports from its folder and System32 alone.
        const uint LoadLibrarySearchDllLoadDir = 0x100, LoadLibrarySearchSystem32 = 0x800;
        const uint LoadWithAlteredSearchPath = 0x8;
        const int ErrorFileNotFound = 2, ErrorInvalidParameter = 87;

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryExW(string path, IntPtr file, uint flags);

        /// <summary>Loads the library unless it is loaded.</summary>
        /// <exception cref="QuorvexLibraryNotFoundException">It is missing; nothing is remembered, so that a later
        /// call tries again.</exception>
        public static void Ensure()
        {
            if (loaded) return;
            lock (gate)
            {
                if (loaded) return;
                if (!resolverTried)
                {
                    resolverTried = true;
                    SetResolver();
                }
                var searched = new List<string>();
                // Without a copy in the program's folders the imports would search on their own: refuse instead.
                int error;
                if (IsWindows && !Preload(searched, out error))
                    throw new QuorvexLibraryNotFoundException(WindowsFile, searched, new Win32Exception(error));
                try
                {
                    int state, path, protocol, code;
                    NativeMethods.GetConnectionState(out state, out path, out protocol, out code);
                }
                catch (DllNotFoundException e)
                {
                    throw new QuorvexLibraryNotFoundException(FileName(), Places(searched), e);
                }
                loaded = true;
            }
        }

        const string SharedObject = "libquorvex.so.0";
        static bool resolverTried;
        static MethodInfo tryLoad;

        // .NET (Core) 3.0 and later: NativeLibrary.SetDllImportResolver, found by reflection so that the assembly
        // builds against Mono's 4.x profile, which lacks it (Mono keeps its dllmap).
        static void SetResolver()
        {
            var native = Type.GetType("System.Runtime.InteropServices.NativeLibrary");
            var resolverType = Type.GetType("System.Runtime.InteropServices.DllImportResolver");
            if (native == null || resolverType == null || IsWindows) return;
            tryLoad = native.GetMethod("TryLoad", new[] { typeof(string), typeof(IntPtr).MakeByRefType() });
            var set = native.GetMethod("SetDllImportResolver", new[] { typeof(Assembly), resolverType });
            if (tryLoad == null || set == null) return;
            var resolve = typeof(Library).GetMethod(nameof(Resolve), BindingFlags.NonPublic | BindingFlags.Static);
            try
            {
                set.Invoke(null, new object[] { typeof(Library).Assembly, Delegate.CreateDelegate(resolverType, resolve) });
            }
            catch (TargetInvocationException e) when (e.InnerException is InvalidOperationException) { }
        }

        // The places libquorvex.so.0 is loaded from, in order; the last is its name, for the system's path.
        static IEnumerable<string> SharedObjectPlaces()
        {
            var rid = Path.Combine("runtimes", "linux-" + Width, "native", SharedObject);
            if (AssemblyFolder.Length > 0)
            {
                yield return Path.Combine(AssemblyFolder, rid);
                yield return Path.GetFullPath(Path.Combine(AssemblyFolder, "..", "..", rid));
                yield return Path.Combine(AssemblyFolder, SharedObject);
            }
            yield return SharedObject;
        }

        // The resolver: the imports' "quorvex" from the first place that loads; other names as the runtime does.
        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            if (name != NativeMethods.Lib) return IntPtr.Zero;
            foreach (var place in SharedObjectPlaces())
            {
                if (place != SharedObject && !File.Exists(place)) continue;
                var args = new object[] { place, IntPtr.Zero };
                if ((bool)tryLoad.Invoke(null, args)) return (IntPtr)args[1];
            }
            return IntPtr.Zero;
        }

        // For expression-bodied wrappers: loads the library (or throws) and is true.
        internal static bool Loaded
        {
            get
            {
                Ensure();
                return true;
            }
        }

        // The folders of the program (the assembly's, and the application's base if another) and the two below
        // each that hold a DLL of one width, in the order tried; absolute, and none above the program's own.
        static List<string> ProgramFolders()
        {
            var folders = new List<string>();
            var seen = new HashSet<string>(StringComparer.OrdinalIgnoreCase);
            foreach (var root in new[] { AssemblyFolder, AppDomain.CurrentDomain.BaseDirectory })
            {
                if (string.IsNullOrEmpty(root) || !Path.IsPathRooted(root)) continue;
                var full = Path.GetFullPath(root);
                foreach (var folder in new[] {
                    Path.Combine(full, Width), Path.Combine(full, "runtimes", "win-" + Width, "native"), full })
                    if (seen.Add(folder.TrimEnd('\\', '/'))) folders.Add(folder);
            }
            return folders;
        }

        // Loads the first of the program's copies that loads; a DLL of the other width fails and the next is tried.
        static bool Preload(List<string> searched, out int error)
        {
            error = ErrorFileNotFound;
            foreach (var folder in ProgramFolders())
            {
                searched.Add(folder);
                var file = Path.Combine(folder, WindowsFile);
                if (!File.Exists(file)) continue;
                var module = LoadLibraryExW(file, IntPtr.Zero, LoadLibrarySearchDllLoadDir | LoadLibrarySearchSystem32);
                // Windows 7 without update KB2533623 knows neither flag; the DLL imports only system DLLs that
                // Windows maps from System32 whatever the search path, so the altered search path is as safe there.
                if (module == IntPtr.Zero && Marshal.GetLastWin32Error() == ErrorInvalidParameter)
                    module = LoadLibraryExW(file, IntPtr.Zero, LoadWithAlteredSearchPath);
                if (module != IntPtr.Zero) return true;
                error = Marshal.GetLastWin32Error();
            }
            return false;
        }

        // The file the imports name: Mono's dllmap in the assembly's .config may point them elsewhere.
        static string FileName()
        {
            if (IsWindows) return WindowsFile;
            try
            {
                var config = new XmlDocument();
                config.Load(typeof(Library).Assembly.Location + ".config");
                var map = config.SelectSingleNode("/configuration/dllmap[@dll='quorvex']/@target");
                if (map != null) return map.Value;
            }
            catch (Exception e) when (e is IOException || e is XmlException || e is UnauthorizedAccessException) { }
            return "libquorvex.so";
        }

        static IList<string> Places(List<string> searched)
        {
            var places = new List<string>(searched);
            if (IsWindows) return places;
            if (tryLoad != null)
                foreach (var place in SharedObjectPlaces())
                    if (place != SharedObject) places.Add(Path.GetDirectoryName(place));
            places.Add(AssemblyFolder);
            var program = AppDomain.CurrentDomain.BaseDirectory;
            if (!string.IsNullOrEmpty(program) && Path.GetFullPath(program).TrimEnd('/', '\\') != AssemblyFolder)
                places.Add(program);
            var ld = Environment.GetEnvironmentVariable("LD_LIBRARY_PATH");
            places.Add(string.IsNullOrEmpty(ld) ? "LD_LIBRARY_PATH (unset)" : "LD_LIBRARY_PATH (" + ld + ")");
            places.Add("the system's library path");
            return places;
        }
    }
}
