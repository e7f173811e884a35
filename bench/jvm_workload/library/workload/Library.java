package workload;

import com.fasterxml.jackson.databind.JsonNode;
import com.fasterxml.jackson.databind.ObjectMapper;
import com.fasterxml.jackson.databind.SerializationFeature;
import com.google.common.base.Joiner;
import com.google.common.base.Splitter;
import com.google.common.collect.ImmutableList;
import com.google.common.collect.ImmutableSortedMap;
import com.google.common.collect.Multimap;
import com.google.common.collect.MultimapBuilder;
import com.google.common.hash.Hashing;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * Library code that loads many classes: Jackson's data binding (JSON to
 * objects and back) and Guava's collections, splitting and hashing, as an
 * application on those libraries would use them. Prints a checksum, so that
 * every way of running it is seen to compute the same.
 */
public final class Library {
  /** One record of the documents that go back and forth. */
  public static final class Order {
    public long id;
    public String customer;
    public List<String> items = new ArrayList<>();
    public Map<String, Integer> quantities;
    public double total;
  }

  public static void main(String[] args) throws Exception {
    int rounds = args.length > 0 ? Integer.parseInt(args[0]) : 4;
    ObjectMapper mapper = new ObjectMapper().enable(SerializationFeature.INDENT_OUTPUT);
    long checksum = 0;
    for (int round = 0; round < rounds; round++) {
      Multimap<String, Long> byCustomer = MultimapBuilder.treeKeys().arrayListValues().build();
      for (int i = 0; i < 4000; i++) {
        Order order = new Order();
        order.id = round * 100000L + i;
        order.customer = "customer-" + (i % 97);
        for (int k = 0; k < 1 + i % 5; k++) order.items.add("item-" + ((i * 31 + k) % 211));
        ImmutableSortedMap.Builder<String, Integer> quantities = ImmutableSortedMap.naturalOrder();
        for (String item : order.items) quantities.put(item, item.length() + i % 7);
        order.quantities = quantities.build();
        order.total = i * 1.25 + round;
        String json = mapper.writeValueAsString(order);
        Order back = mapper.readValue(json, Order.class);
        JsonNode tree = mapper.readTree(json);
        byCustomer.put(back.customer, back.id);
        checksum += tree.get("items").size() + back.quantities.size();
        checksum += Hashing.murmur3_32_fixed().hashString(json, StandardCharsets.UTF_8).asInt();
      }
      String joined = Joiner.on(',').join(byCustomer.keySet());
      for (String part : Splitter.on(',').omitEmptyStrings().split(joined)) {
        checksum += part.hashCode() + byCustomer.get(part).size();
      }
      checksum += ImmutableList.copyOf(byCustomer.values()).size();
    }
    System.out.println("checksum " + checksum);
  }
}
