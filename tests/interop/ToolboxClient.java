// Drives tavo400-hostd's IBM i host servers with IBM's Toolbox for Java, the way a
// workstation would: sign on, create the reply queue, fetch both lists off the keyed
// queue, and send one message that the host accepts and one it refuses.
//
// Usage: java -cp jt400.jar:. ToolboxClient HOST PORTMAPPER-PORT USER PASSWORD
// Prints one line per step; "OK" last on success, else "FAIL <why>" and a non-zero exit.

import com.ibm.as400.access.AS400;
import com.ibm.as400.access.AS400Message;
import com.ibm.as400.access.AS400SecurityException;
import com.ibm.as400.access.AS400Text;
import com.ibm.as400.access.CharConverter;
import com.ibm.as400.access.KeyedDataQueue;
import com.ibm.as400.access.KeyedDataQueueEntry;
import com.ibm.as400.access.ProgramCall;
import com.ibm.as400.access.ProgramParameter;
import com.ibm.as400.access.SocketProperties;

import java.io.DataInputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.time.ZoneOffset;
import java.time.ZonedDateTime;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

public final class ToolboxClient {

    private static final int CCSID = 37;
    private static final String LIST_PROGRAM = "/QSYS.LIB/TAVO400.LIB/TVOCGET.PGM";
    private static final String SEND_PROGRAM = "/QSYS.LIB/TAVO400.LIB/TVOCUPD.PGM";
    private static final String REPLY_QUEUE = "/QSYS.LIB/TAVO400.LIB/#TVOCGET.DTAQ";

    private static final int LIST_REQUEST_LENGTH = 124;
    private static final int KEY_LENGTH = 24;
    private static final int ENTRY_LENGTH = 61;
    private static final int AREA_LENGTH = 32000;
    private static final int SEND_RECORD_LENGTH = 1512;
    private static final int SEND_AREA_USED = 2000;
    private static final int ERROR_HEADER_LENGTH = 27;

    // Far above anything the demo directory files; a host that never sends the end
    // marker must not keep us reading.
    private static final int MAX_ENTRIES = 1000;
    private static final int CONNECT_TIMEOUT_MS = 10_000;
    private static final int READ_TIMEOUT_MS = 30_000;
    private static final long WHOLE_RUN_LIMIT_MS = 120_000;

    private static final class Failure extends Exception {
        private static final long serialVersionUID = 1L;

        Failure(String why) {
            super(why);
        }
    }

    private final String host;
    private final int mapperPort;
    private final String user;
    private final String password;
    private final String newPassword; // null: the password is not changed
    private final CharConverter fromHost;

    private ToolboxClient(String host, int mapperPort, String user, String password, String newPassword)
            throws IOException {
        this.host = host;
        this.mapperPort = mapperPort;
        this.user = user;
        this.password = password;
        this.newPassword = newPassword;
        this.fromHost = new CharConverter(CCSID);
    }

    public static void main(String[] args) {
        if (args.length != 4 && args.length != 5) {
            System.out.println("FAIL usage: ToolboxClient HOST PORTMAPPER-PORT USER PASSWORD [NEW-PASSWORD]");
            System.exit(2);
        }
        // The 9.1 Toolbox puts no read time-out on some sockets; a host that stops
        // answering must still end the run.
        Thread watchdog = new Thread(() -> {
            try {
                Thread.sleep(WHOLE_RUN_LIMIT_MS);
            } catch (InterruptedException e) {
                return;
            }
            System.out.println("FAIL no result within " + WHOLE_RUN_LIMIT_MS / 1000 + " s");
            System.out.flush();
            Runtime.getRuntime().halt(3);
        });
        watchdog.setDaemon(true);
        watchdog.start();

        try {
            new ToolboxClient(args[0], Integer.parseInt(args[1]), args[2], args[3],
                    args.length == 5 ? args[4] : null).run();
            System.out.println("OK");
            System.out.flush();
            System.exit(0);
        } catch (Failure f) {
            System.out.println("FAIL " + f.getMessage());
        } catch (Exception e) {
            System.out.println("FAIL " + e.getClass().getName() + ": " + e.getMessage());
            e.printStackTrace(System.err);
        }
        System.out.flush();
        System.exit(1);
    }

    private void run() throws Exception {
        int signonPort = lookUpPort("as-signon");
        int commandPort = lookUpPort("as-rmtcmd");
        int queuePort = lookUpPort("as-dtaq");

        AS400 system = connect(password, signonPort, commandPort, queuePort);
        if (!system.validateSignon())
            throw new Failure("validateSignon returned false");
        System.out.println("SIGNON " + user + " VRM " + Integer.toHexString(system.getVRM()));

        try {
            KeyedDataQueue queue = new KeyedDataQueue(system, REPLY_QUEUE);
            // The database is new, so the queue must not exist until TVOCGET makes it.
            if (queue.exists())
                throw new Failure("#TVOCGET exists before *CRTDTAQ");
            callListProgram(system, listRequest("*CRTDTAQ", requestStamp()));
            queue = new KeyedDataQueue(system, REPLY_QUEUE);
            if (!queue.exists())
                throw new Failure("#TVOCGET does not exist after *CRTDTAQ");
            if (queue.getKeyLength() != KEY_LENGTH)
                throw new Failure("#TVOCGET has key length " + queue.getKeyLength() + ", not " + KEY_LENGTH);
            System.out.println("CRTDTAQ queue exists, key length " + KEY_LENGTH);

            List<String[]> recipients = fetchList(system, queue, "*RCPL");
            List<String[]> groups = fetchList(system, queue, "*GRPL");
            requireNames("*RCPL", recipients, "JSMITH", "MJONES", "OPS");
            requireNames("*GRPL", groups, "OPERATORS", "NETWORK", "MANAGERS");
            forbidNames("*RCPL", recipients, "OPERATORS", "NETWORK", "MANAGERS");
            forbidNames("*GRPL", groups, "JSMITH", "MJONES", "OPS");
            requireDescription("*RCPL", recipients, "JSMITH");
            requireDescription("*GRPL", groups, "OPERATORS");

            byte[] accepted = sendRecord("*RCP", new String[] {"JSMITH", "mjones"},
                    "Interop check", "Gr\u00fc\u00dfe from the Toolbox client, run " + System.currentTimeMillis(),
                    "YY  Y  ");
            System.out.println("SENT " + hex(Arrays.copyOf(accepted, SEND_RECORD_LENGTH)));
            List<String> acceptErrors = callSendProgram(system, accepted);
            if (acceptErrors != null)
                throw new Failure("the host refused a message to known recipients: " + acceptErrors);
            System.out.println("ACCEPTED");

            byte[] refused = sendRecord("*RCP", new String[] {"NOSUCHUSR"}, "Interop check",
                    "This one must be refused", "Y      ");
            List<String> refuseErrors = callSendProgram(system, refused);
            if (refuseErrors == null)
                throw new Failure("the host accepted a message to the unknown recipient NOSUCHUSR");
            if (refuseErrors.isEmpty())
                throw new Failure("the host refused the message but gave no reason");
            boolean named = false;
            for (String text : refuseErrors) {
                System.out.println("REFUSED " + text);
                named |= text.contains("NOSUCHUSR");
            }
            if (!named)
                throw new Failure("no refusal text names the unknown recipient NOSUCHUSR");
        } finally {
            system.disconnectAllServices();
        }

        // A host that lets anyone in would pass everything above.
        AS400 intruder = connect("badpw1", signonPort, commandPort, queuePort);
        try {
            intruder.validateSignon();
            throw new Failure("sign-on with a wrong password was accepted");
        } catch (AS400SecurityException expected) {
            System.out.println("WRONGPASSWORD refused, return code " + expected.getReturnCode());
        } finally {
            intruder.disconnectAllServices();
        }
        if (newPassword != null)
            changePassword(signonPort, commandPort, queuePort);
    }

    // The host's rules first (a new password too short), then a change that must take: the
    // new password signs on, the old one no longer does.
    private void changePassword(int signonPort, int commandPort, int queuePort) throws Exception {
        AS400 changer = connect(password, signonPort, commandPort, queuePort);
        try {
            changer.changePassword(password, "short");
            throw new Failure("the host accepted the new password \"short\"");
        } catch (AS400SecurityException expected) {
            if (expected.getReturnCode() != AS400SecurityException.PASSWORD_NEW_TOO_SHORT)
                throw new Failure("a new password too short was refused with return code "
                        + expected.getReturnCode() + ": " + expected.getMessage());
            System.out.println("TOOSHORT refused: " + expected.getMessage());
        } finally {
            changer.disconnectAllServices();
        }
        changer = connect(password, signonPort, commandPort, queuePort);
        try {
            changer.changePassword(password, newPassword);
        } finally {
            changer.disconnectAllServices();
        }
        System.out.println("CHANGED the password of " + user);
        AS400 renewed = connect(newPassword, signonPort, commandPort, queuePort);
        try {
            if (!renewed.validateSignon())
                throw new Failure("validateSignon with the new password returned false");
        } finally {
            renewed.disconnectAllServices();
        }
        AS400 stale = connect(password, signonPort, commandPort, queuePort);
        try {
            stale.validateSignon();
            throw new Failure("the old password still signs on after the change");
        } catch (AS400SecurityException expected) {
            System.out.println("OLDPASSWORD refused, return code " + expected.getReturnCode());
        } finally {
            stale.disconnectAllServices();
        }
    }

    // The host's own port mapper: the service name in ASCII, nothing else; the answer is
    // '+' and the port as a four-byte big-endian number.
    private int lookUpPort(String service) throws IOException, Failure {
        try (Socket socket = new Socket()) {
            socket.connect(new InetSocketAddress(host, mapperPort), CONNECT_TIMEOUT_MS);
            socket.setSoTimeout(READ_TIMEOUT_MS);
            OutputStream out = socket.getOutputStream();
            out.write(service.getBytes(StandardCharsets.US_ASCII));
            out.flush();
            byte[] reply = new byte[5];
            new DataInputStream(socket.getInputStream()).readFully(reply);
            if (reply[0] != 0x2B)
                throw new Failure("port mapper answered " + service + " with " + hex(reply));
            int port = ((reply[1] & 0xFF) << 24) | ((reply[2] & 0xFF) << 16) | ((reply[3] & 0xFF) << 8)
                    | (reply[4] & 0xFF);
            if (port <= 0 || port > 65535)
                throw new Failure("port mapper gave " + service + " the port " + port);
            System.out.println("PORT " + service + " " + port);
            return port;
        }
    }

    private AS400 connect(String pw, int signonPort, int commandPort, int queuePort) throws Exception {
        AS400 system = new AS400(host, user, pw);
        system.setGuiAvailable(false);
        system.setGSSOption(AS400.GSS_OPTION_NONE);
        // Replies are then read on this thread, so the read time-out ends a stalled call.
        system.setThreadUsed(false);
        SocketProperties sockets = new SocketProperties();
        sockets.setLoginTimeout(CONNECT_TIMEOUT_MS);
        sockets.setSoTimeout(READ_TIMEOUT_MS);
        system.setSocketProperties(sockets);
        system.setServicePort(AS400.SIGNON, signonPort);
        system.setServicePort(AS400.COMMAND, commandPort);
        system.setServicePort(AS400.DATAQUEUE, queuePort);
        return system;
    }

    // Century digit, year, month, day, hour, minute, second, first digit of the
    // milliseconds; UTC.
    private static String requestStamp() {
        ZonedDateTime now = ZonedDateTime.now(ZoneOffset.UTC);
        String millis = Integer.toString(now.getNano() / 1_000_000);
        return String.format("%c%02d%02d%02d%02d%02d%02d%c", now.getYear() >= 2000 ? '1' : '0',
                now.getYear() % 100, now.getMonthValue(), now.getDayOfMonth(), now.getHour(),
                now.getMinute(), now.getSecond(), millis.charAt(0));
    }

    private static byte[] toHost(String text, int length) throws Failure {
        if (text.length() > length)
            throw new Failure("internal: '" + text + "' is longer than " + length);
        byte[] bytes = new AS400Text(length, CCSID).toBytes(pad(text, length));
        if (bytes.length != length)
            throw new Failure("internal: CCSID 37 gave " + bytes.length + " bytes for " + length);
        return bytes;
    }

    private static String pad(String text, int length) {
        StringBuilder out = new StringBuilder(text);
        while (out.length() < length)
            out.append(' ');
        return out.toString();
    }

    private static byte[] listRequest(String function, String stamp) throws Failure {
        return toHost(pad(function, 10) + stamp, LIST_REQUEST_LENGTH);
    }

    private void callListProgram(AS400 system, byte[] request) throws Exception {
        ProgramParameter[] parms = {
            new ProgramParameter(request),
            // Never filled by the workstation; the host may write into it.
            new ProgramParameter(new byte[AREA_LENGTH], AREA_LENGTH),
        };
        String function = fromHost.byteArrayToString(request, 0, 10).trim();
        ProgramCall call = new ProgramCall(system, LIST_PROGRAM, parms);
        if (!call.run())
            throw new Failure("TVOCGET " + function + " failed: " + messages(call));
    }

    // Returns {name, description} per entry, in the order read, up to the end marker.
    private List<String[]> fetchList(AS400 system, KeyedDataQueue queue, String function) throws Exception {
        byte[] request = listRequest(function, requestStamp());
        byte[] key = Arrays.copyOf(request, KEY_LENGTH);
        callListProgram(system, request);

        List<String[]> entries = new ArrayList<>();
        Set<String> seen = new HashSet<>();
        while (true) {
            if (entries.size() > MAX_ENTRIES)
                throw new Failure(function + ": no end marker after " + MAX_ENTRIES + " entries");
            KeyedDataQueueEntry entry = queue.read(key, 0, "EQ");
            if (entry == null)
                throw new Failure(function + ": the queue ran dry after " + entries.size()
                        + " entries, before the end marker");
            if (!Arrays.equals(entry.getKey(), key))
                throw new Failure(function + ": entry came back under key " + hex(entry.getKey())
                        + ", asked for " + hex(key));
            byte[] data = entry.getData();
            if (data == null || data.length < ENTRY_LENGTH)
                throw new Failure(function + ": entry of " + (data == null ? 0 : data.length)
                        + " bytes, shorter than " + ENTRY_LENGTH);
            String text = fromHost.byteArrayToString(data, 0, ENTRY_LENGTH);
            if (text.charAt(0) == 'X')
                break;
            String name = text.substring(1, 11).trim();
            String description = text.substring(11, 61).trim();
            if (name.isEmpty())
                throw new Failure(function + ": entry " + (entries.size() + 1) + " has no name");
            if (!seen.add(name))
                throw new Failure(function + ": " + name + " listed twice");
            entries.add(new String[] {name, description});
        }
        // Everything filed under the key has been taken: the next read finds nothing.
        KeyedDataQueueEntry extra = queue.read(key, 0, "EQ");
        if (extra != null)
            throw new Failure(function + ": an entry is left under the key after the end marker");

        StringBuilder line = new StringBuilder(function.substring(1) + " " + entries.size());
        for (String[] e : entries)
            line.append(' ').append(e[0]);
        System.out.println(line);
        return entries;
    }

    private static void requireNames(String function, List<String[]> entries, String... names) throws Failure {
        for (String name : names)
            if (entries.stream().noneMatch(e -> e[0].equals(name)))
                throw new Failure(function + " lacks " + name);
    }

    private static void forbidNames(String function, List<String[]> entries, String... names) throws Failure {
        for (String name : names)
            if (entries.stream().anyMatch(e -> e[0].equals(name)))
                throw new Failure(function + " lists " + name + ", which belongs to the other list");
    }

    private static void requireDescription(String function, List<String[]> entries, String name) throws Failure {
        for (String[] e : entries)
            if (e[0].equals(name) && !e[1].isEmpty())
                return;
        throw new Failure(function + ": " + name + " has no description");
    }

    // The 2000-byte area of parameter 5: the send record and 488 blanks, in EBCDIC,
    // followed by zero bytes up to 32000.
    private static byte[] sendRecord(String kind, String[] names, String subject, String body, String modes)
            throws Failure {
        StringBuilder recipients = new StringBuilder();
        for (String name : names)
            recipients.append(pad(name.toUpperCase(), 10));
        String record = String.format("%02d", names.length) + pad(recipients.toString(), 500)
                + pad(subject + "@@" + body, 999) + kind + modes;
        if (record.length() != SEND_RECORD_LENGTH)
            throw new Failure("internal: send record of " + record.length() + " characters");
        byte[] area = new byte[AREA_LENGTH];
        System.arraycopy(toHost(record, SEND_AREA_USED), 0, area, 0, SEND_AREA_USED);
        return area;
    }

    // null: accepted. Otherwise the host's error texts, in order.
    private List<String> callSendProgram(AS400 system, byte[] area) throws Exception {
        ProgramParameter[] parms = {
            new ProgramParameter(toHost("*CA", 10)),
            new ProgramParameter(toHost("*SNDTVO", 10)),
            new ProgramParameter(toHost("", 10)),
            new ProgramParameter(toHost("", 30)),
            new ProgramParameter(area),
            new ProgramParameter(AREA_LENGTH),
        };
        ProgramCall call = new ProgramCall(system, SEND_PROGRAM, parms);
        if (!call.run())
            throw new Failure("TVOCUPD failed: " + messages(call));
        byte[] reply = parms[5].getOutputData();
        if (reply == null || reply.length != AREA_LENGTH)
            throw new Failure("TVOCUPD reply of " + (reply == null ? 0 : reply.length) + " bytes, not " + AREA_LENGTH);
        if (!fromHost.byteArrayToString(reply, 0, 1).equals("Y"))
            return null;

        int count = parseNumber(fromHost.byteArrayToString(reply, 1, 5));
        List<String> texts = new ArrayList<>();
        int at = 6;
        for (int i = 0; i < count; ++i) {
            if (at + ERROR_HEADER_LENGTH > reply.length)
                throw new Failure("TVOCUPD reply: error entry " + (i + 1) + " runs past the area");
            String header = fromHost.byteArrayToString(reply, at, ERROR_HEADER_LENGTH);
            int length = parseNumber(header.substring(22, 27));
            at += ERROR_HEADER_LENGTH;
            if (length < 0 || at + length > reply.length)
                throw new Failure("TVOCUPD reply: error entry " + (i + 1) + " claims " + length + " bytes");
            texts.add(header.substring(0, 22).trim() + " " + fromHost.byteArrayToString(reply, at, length));
            at += length;
        }
        return texts;
    }

    // As the workstation reads the host's numbers: blanks, a sign, digits; else 0.
    private static int parseNumber(String field) {
        int i = 0;
        while (i < field.length() && Character.isWhitespace(field.charAt(i)))
            ++i;
        boolean negative = false;
        if (i < field.length() && (field.charAt(i) == '+' || field.charAt(i) == '-'))
            negative = field.charAt(i++) == '-';
        int value = 0;
        while (i < field.length() && field.charAt(i) >= '0' && field.charAt(i) <= '9')
            value = value * 10 + (field.charAt(i++) - '0');
        return negative ? -value : value;
    }

    private static String messages(ProgramCall call) {
        AS400Message[] list = call.getMessageList();
        if (list == null || list.length == 0)
            return "(no messages)";
        StringBuilder out = new StringBuilder();
        for (AS400Message m : list)
            out.append(out.length() == 0 ? "" : "; ").append(m.getID()).append(' ').append(m.getText());
        return out.toString();
    }

    private static String hex(byte[] bytes) {
        if (bytes == null)
            return "(none)";
        StringBuilder out = new StringBuilder(bytes.length * 2);
        for (byte b : bytes)
            out.append(Character.forDigit((b >> 4) & 0xF, 16)).append(Character.forDigit(b & 0xF, 16));
        return out.toString();
    }
}
