package startup;

import com.fasterxml.jackson.databind.JsonNode;
import com.fasterxml.jackson.databind.ObjectMapper;
import com.google.common.collect.ImmutableMap;
import com.google.common.collect.Multimap;
import com.google.common.collect.MultimapBuilder;
import java.io.File;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.List;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import org.apache.commons.collections4.bag.HashBag;
import org.apache.commons.lang3.StringUtils;
import org.jsoup.Jsoup;
import org.jsoup.nodes.Document;

/**
 * A program whose start-up is mostly class loading: some real work with
 * jsoup, jackson, guava, commons-lang3 and commons-collections4, then every
 * class of those jars loaded and linked until `want` classes of theirs are
 * in. Prints a checksum of the work and the number of classes loaded.
 */
public final class Startup {
  private Startup() {}

  public static void main(String[] args) throws Exception {
    int want = args.length > 0 ? Integer.parseInt(args[0]) : 1200;
    long checksum = 0;
    Document doc = Jsoup.parse("<html><body><p class=a>one</p><p>two <b>three</b></p></body></html>");
    checksum += doc.select("p").size() * 7 + doc.text().length();
    ObjectMapper mapper = new ObjectMapper();
    JsonNode node = mapper.readTree("{\"a\":[1,2,3],\"b\":{\"c\":\"d\"}}");
    checksum += node.get("a").size() + mapper.writeValueAsString(node).length();
    ImmutableMap<String, Integer> map = ImmutableMap.of("x", 1, "y", 2);
    Multimap<String, Integer> multi = MultimapBuilder.hashKeys().arrayListValues().build();
    multi.putAll("k", map.values());
    checksum += multi.size() + StringUtils.capitalize("start").length();
    HashBag<String> bag = new HashBag<>();
    bag.add("a", 3);
    checksum += bag.getCount("a");

    int loaded = 0;
    List<String> names = new ArrayList<>();
    for (String path : System.getProperty("java.class.path").split(File.pathSeparator)) {
      if (!path.endsWith(".jar")) {
        continue;
      }
      try (JarFile jar = new JarFile(path)) {
        for (Enumeration<JarEntry> e = jar.entries(); e.hasMoreElements(); ) {
          String n = e.nextElement().getName();
          if (n.endsWith(".class") && !n.startsWith("META-INF") && !n.contains("-info")) {
            names.add(n.substring(0, n.length() - 6).replace('/', '.'));
          }
        }
      }
    }
    names.sort(null);
    ClassLoader loader = Startup.class.getClassLoader();
    for (String name : names) {
      if (loaded >= want) {
        break;
      }
      try {
        Class.forName(name, false, loader).getDeclaredFields();
        loaded++;
      } catch (LinkageError | ClassNotFoundException e) {
        // a class whose optional dependency is missing: not counted
      }
    }
    System.out.println("checksum " + checksum + ", classes loaded and linked " + loaded);
  }
}
