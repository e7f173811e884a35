package quorvatix.cci;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.IdentityHashMap;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;
import org.objectweb.asm.ClassReader;
import org.objectweb.asm.ClassWriter;
import org.objectweb.asm.MethodTooLargeException;
import org.objectweb.asm.Opcodes;
import org.objectweb.asm.tree.AbstractInsnNode;
import org.objectweb.asm.tree.ClassNode;
import org.objectweb.asm.tree.FrameNode;
import org.objectweb.asm.tree.InsnList;
import org.objectweb.asm.tree.InsnNode;
import org.objectweb.asm.tree.IntInsnNode;
import org.objectweb.asm.tree.JumpInsnNode;
import org.objectweb.asm.tree.LabelNode;
import org.objectweb.asm.tree.LdcInsnNode;
import org.objectweb.asm.tree.LineNumberNode;
import org.objectweb.asm.tree.LookupSwitchInsnNode;
import org.objectweb.asm.tree.MethodInsnNode;
import org.objectweb.asm.tree.MethodNode;
import org.objectweb.asm.tree.TableSwitchInsnNode;
import org.objectweb.asm.tree.TryCatchBlockNode;

/**
 * Instruments one class for the runtime: a call to a native probe at each line
 * slot (one entry of a method's line number table) and at method entry, and a
 * description of the class's records for the runtime (see class_records.h).
 *
 * <p>A probe is inserted right before the first instruction at its slot's code
 * offset, after the labels and the stack map frame of that offset, so that
 * every path reaching the offset runs it and the frame still describes the
 * state before it. Probes push two ints and pop them again: locals and frames
 * stay valid, and only the maximum stack grows (recomputed by ASM). Constant
 * pool references, jumps (including the widening of a jump that no longer
 * fits) and exception tables are rewritten by ASM.
 *
 * <p>A method that no longer fits in 64 KiB of code once instrumented is left
 * as it was, without line slots, and reported once on standard error. A class
 * that ASM can't read or write is left as it was with no records.
 *
 * <p>Thread-safe: the JVM calls {@link #instrument} from any loading thread.
 */
public final class Instrumenter {
  private static final String PROBES = "quorvatix/cci/Probes";
  private static final int MAX_CLASS_SLOTS = 0xFFFF;
  private static final AtomicInteger nextId = new AtomicInteger(1);

  private Instrumenter() {}

  /** Loads every class that instrumenting needs, by instrumenting a small class. */
  public static void warmUp() {
    try {
      ClassWriter writer = new ClassWriter(0);
      writer.visit(Opcodes.V11, Opcodes.ACC_PUBLIC, "quorvatix/cci/WarmUp", null,
          "java/lang/Object", null);
      writer.visitSource("WarmUp.java", null);
      org.objectweb.asm.MethodVisitor mv =
          writer.visitMethod(Opcodes.ACC_PUBLIC | Opcodes.ACC_STATIC, "f", "(I)I", null, null);
      mv.visitCode();
      org.objectweb.asm.Label start = new org.objectweb.asm.Label();
      org.objectweb.asm.Label other = new org.objectweb.asm.Label();
      mv.visitLabel(start);
      mv.visitLineNumber(1, start);
      mv.visitVarInsn(Opcodes.ILOAD, 0);
      mv.visitJumpInsn(Opcodes.IFEQ, other);
      mv.visitInsn(Opcodes.ICONST_1);
      mv.visitInsn(Opcodes.IRETURN);
      mv.visitLabel(other);
      mv.visitLineNumber(2, other);
      mv.visitFrame(Opcodes.F_SAME, 0, null, 0, null);
      mv.visitInsn(Opcodes.ICONST_0);
      mv.visitInsn(Opcodes.IRETURN);
      mv.visitMaxs(1, 1);
      mv.visitEnd();
      writer.visitEnd();
      byte[][] done = transform("quorvatix/cci/WarmUp", writer.toByteArray(), new int[] {0});
      if (done == null) {
        throw new IllegalStateException("warm-up class not instrumented");
      }
    } catch (IOException e) {
      throw new IllegalStateException(e);
    }
  }

  /**
   * Returns {instrumented class bytes, description}, or null when the class is
   * left as it was (a module or package descriptor, or a class ASM can't
   * handle: then a message is on standard error).
   */
  public static byte[][] instrument(String name, byte[] classfile) {
    try {
      return transform(name, classfile, null);
    } catch (Throwable t) {
      System.err.println("cci: cannot instrument " + name + " (" + t + "); it is left as it was");
      return null;
    }
  }

  /** ids: the first ID to use, for a fixed outcome in tests; null: the shared counter. */
  static byte[][] transform(String name, byte[] classfile, int[] ids) throws IOException {
    ClassReader reader = new ClassReader(classfile);
    if ((reader.getAccess() & Opcodes.ACC_MODULE) != 0 || name.endsWith("package-info")) {
      return null;
    }
    Set<String> uncounted = new HashSet<>();
    int firstId = -1;
    while (true) {
      ClassNode node = new ClassNode();
      reader.accept(node, 0);
      if (firstId < 0) {
        firstId = ids != null ? ids[0] : nextId.getAndAdd(1 + node.methods.size());
      }
      // A class that the compiler made up (an enum switch's map, say) has no
      // lines of its own: its methods count their entries only.
      boolean syntheticClass = (node.access & Opcodes.ACC_SYNTHETIC) != 0;
      List<MethodInfo> methods = new ArrayList<>();
      int classSlots = 0;
      int id = firstId + 1;
      for (MethodNode method : node.methods) {
        String key = method.name + method.desc;
        MethodInfo info = new MethodInfo(id++, method);
        if (uncounted.contains(key) || method.instructions.size() == 0) {
          // left as it was
        } else if (syntheticClass || !hasOwnLines(method)) {
          insertEntryProbe(method, info.id);
        } else {
          int slots = countSlots(method);
          if (classSlots + slots > MAX_CLASS_SLOTS) {
            uncounted.add(key);
            report(name, method, "has more line slots than a class can hold");
          } else {
            info.lines = insertProbes(method, info.id);
            classSlots += slots;
          }
        }
        methods.add(info);
      }
      ClassWriter writer = new ClassWriter(ClassWriter.COMPUTE_MAXS);
      node.accept(writer);
      byte[] code;
      try {
        code = writer.toByteArray();
      } catch (MethodTooLargeException e) {
        String key = e.getMethodName() + e.getDescriptor();
        if (!uncounted.add(key)) {
          throw e;  // too large even without probes: not ours to fix
        }
        System.err.println("cci: method " + name + "." + e.getMethodName() + e.getDescriptor()
            + " is too large to instrument; it is left uncounted");
        continue;
      }
      return new byte[][] {code, describe(node, firstId, methods)};
    }
  }

  private static void report(String className, MethodNode method, String why) {
    System.err.println("cci: method " + className + "." + method.name + method.desc + " " + why
        + "; it is left uncounted");
  }

  private static final class MethodInfo {
    final int id;
    final MethodNode method;
    int[] lines = new int[0];

    MethodInfo(int id, MethodNode method) {
      this.id = id;
      this.method = method;
    }
  }

  /**
   * Whether a method's line slots are its own source lines. A synthetic method
   * other than a lambda's body (a bridge, an enum's $values, an accessor) only
   * repeats lines of the code it stands for: it counts its entries but has no
   * line slots.
   */
  private static boolean hasOwnLines(MethodNode method) {
    return (method.access & Opcodes.ACC_SYNTHETIC) == 0 || method.name.startsWith("lambda$");
  }

  private static void insertEntryProbe(MethodNode method, int methodId) {
    InsnList probe = new InsnList();
    probe.add(pushInt(methodId));
    probe.add(new MethodInsnNode(Opcodes.INVOKESTATIC, PROBES, "entry", "(I)V", false));
    method.instructions.insert(probe);
  }

  private static int countSlots(MethodNode method) {
    int slots = 0;
    for (AbstractInsnNode n = method.instructions.getFirst(); n != null; n = n.getNext()) {
      if (n instanceof LineNumberNode) {
        slots++;
      }
    }
    return slots;
  }

  /** Inserts the probes of one method; returns the source line of each slot. */
  static int[] insertProbes(MethodNode method, int methodId) {
    InsnList insns = method.instructions;
    Set<LabelNode> targets = jumpTargets(method);
    List<LineNumberNode> lineNodes = new ArrayList<>();
    for (AbstractInsnNode n = insns.getFirst(); n != null; n = n.getNext()) {
      if (n instanceof LineNumberNode) {
        lineNodes.add((LineNumberNode) n);
      }
    }
    int[] lines = new int[lineNodes.size()];

    // The method's first instruction, and whether a jump can reach its offset.
    AbstractInsnNode first = insns.getFirst();
    boolean startIsTarget = false;
    while (first != null && first.getOpcode() < 0) {
      if (first instanceof LabelNode && targets.contains(first)) {
        startIsTarget = true;
      }
      first = first.getNext();
    }
    boolean entryDone = false;
    Map<AbstractInsnNode, LabelNode> relabelled = new IdentityHashMap<>();
    for (int slot = 0; slot < lineNodes.size(); slot++) {
      LineNumberNode lineNode = lineNodes.get(slot);
      lines[slot] = lineNode.line;
      AbstractInsnNode target = lineNode.getNext();
      while (target != null && target.getOpcode() < 0) {
        target = target.getNext();
      }
      if (target == null) {
        continue;  // a line entry past the last instruction never runs
      }
      InsnList probe = new InsnList();
      probe.add(pushInt(methodId));
      probe.add(pushInt(slot));
      if (!entryDone && target == first && !startIsTarget) {
        probe.add(new MethodInsnNode(Opcodes.INVOKESTATIC, PROBES, "entryLine", "(II)V", false));
        entryDone = true;
      } else {
        probe.add(new MethodInsnNode(Opcodes.INVOKESTATIC, PROBES, "line", "(II)V", false));
      }
      if (target.getOpcode() == Opcodes.NEW && !relabelled.containsKey(target)) {
        relabelled.put(target, relabelNew(method, target));
      }
      insns.insertBefore(relabelled.containsKey(target) ? relabelled.get(target) : target, probe);
    }
    if (!entryDone && first != null) {
      insertEntryProbe(method, methodId);
    }
    return lines;
  }

  /**
   * Frames name an uninitialized object by the label of its NEW instruction.
   * A probe goes between the labels of an offset and its instruction, so a NEW
   * with a probe gets a label of its own right before it, and the frames that
   * named the NEW through an earlier label of the same offset now name it.
   */
  private static LabelNode relabelNew(MethodNode method, AbstractInsnNode newInsn) {
    Set<LabelNode> before = new HashSet<>();
    for (AbstractInsnNode n = newInsn.getPrevious(); n != null && n.getOpcode() < 0;
        n = n.getPrevious()) {
      if (n instanceof LabelNode) {
        before.add((LabelNode) n);
      }
    }
    LabelNode own = new LabelNode();
    method.instructions.insertBefore(newInsn, own);
    for (AbstractInsnNode n = method.instructions.getFirst(); n != null; n = n.getNext()) {
      if (n instanceof FrameNode) {
        FrameNode frame = (FrameNode) n;
        replaceLabels(frame.local, before, own);
        replaceLabels(frame.stack, before, own);
      }
    }
    return own;
  }

  private static void replaceLabels(List<Object> types, Set<LabelNode> from, LabelNode to) {
    if (types == null) {
      return;
    }
    for (int i = 0; i < types.size(); i++) {
      if (from.contains(types.get(i))) {
        types.set(i, to);
      }
    }
  }

  private static Set<LabelNode> jumpTargets(MethodNode method) {
    Set<LabelNode> targets = new HashSet<>();
    for (AbstractInsnNode n = method.instructions.getFirst(); n != null; n = n.getNext()) {
      if (n instanceof JumpInsnNode) {
        targets.add(((JumpInsnNode) n).label);
      } else if (n instanceof TableSwitchInsnNode) {
        targets.add(((TableSwitchInsnNode) n).dflt);
        targets.addAll(((TableSwitchInsnNode) n).labels);
      } else if (n instanceof LookupSwitchInsnNode) {
        targets.add(((LookupSwitchInsnNode) n).dflt);
        targets.addAll(((LookupSwitchInsnNode) n).labels);
      }
    }
    for (TryCatchBlockNode block : method.tryCatchBlocks) {
      targets.add(block.handler);
    }
    return targets;
  }

  private static AbstractInsnNode pushInt(int value) {
    if (value >= -1 && value <= 5) {
      return new InsnNode(Opcodes.ICONST_0 + value);
    }
    if (value >= Byte.MIN_VALUE && value <= Byte.MAX_VALUE) {
      return new IntInsnNode(Opcodes.BIPUSH, value);
    }
    if (value >= Short.MIN_VALUE && value <= Short.MAX_VALUE) {
      return new IntInsnNode(Opcodes.SIPUSH, value);
    }
    return new LdcInsnNode(value);
  }

  private static byte[] describe(ClassNode node, int classId, List<MethodInfo> methods)
      throws IOException {
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    DataOutputStream out = new DataOutputStream(bytes);
    out.writeByte(1);
    out.writeByte((node.access & Opcodes.ACC_INTERFACE) != 0 ? 3 : 2);
    out.writeInt(classId);
    out.writeShort(node.access & 0xFFFF);
    out.writeUTF(node.name);
    out.writeByte(node.sourceFile != null ? 1 : 0);
    if (node.sourceFile != null) {
      out.writeUTF(node.sourceFile);
    }
    out.writeShort(methods.size());
    for (MethodInfo info : methods) {
      out.writeInt(info.id);
      out.writeShort(info.method.access & 0xFFFF);
      out.writeUTF(info.method.name);
      out.writeUTF(info.method.desc);
      out.writeShort(info.lines.length);
      for (int line : info.lines) {
        out.writeShort(line);
      }
    }
    out.flush();
    return bytes.toByteArray();
  }
}
